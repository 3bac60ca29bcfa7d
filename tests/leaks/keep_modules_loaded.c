/* LD_PRELOAD for the leak check: dlclose does nothing, so the graphics and
 * audio drivers stay mapped until exit and LeakSanitizer can name the
 * library that made an allocation (a suppression can only match a name). */
int dlclose(void* handle)
{
    (void)handle;
    return 0;
}

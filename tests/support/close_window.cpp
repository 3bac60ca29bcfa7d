// Sends WM_DELETE_WINDOW to the top-level window with the given title, as a
// window manager does for a close request. A program of its own, so that a
// test can send it as another user (the user of a Wayland test session).
//   close_window TITLE

#include "support/display.hpp"

#include <cstdio>

int main(int argc, char** argv)
{
    if (argc != 2)
    {
        std::fprintf(stderr, "usage: close_window TITLE\n");
        return 2;
    }
    const testsupport::WindowInfo window = testsupport::findWindow(argv[1]);
    if (window.id == 0)
        return 1;
    testsupport::sendCloseRequest(window.id);
    return 0;
}

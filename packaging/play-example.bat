@echo off
rem Plays the example show in the "show" folder beside this file.
rem Press Escape to end it.
cd /d "%~dp0show"
"%~dp0quorvel.exe"
if not "%errorlevel%"=="0" pause

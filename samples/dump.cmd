@echo off
rem dump.cmd - keep a backup of device memory, then write an image and verify it.
rem
rem   dump.cmd BACKUP IMAGE [INSTANCE]
rem
rem Reads as many bytes as IMAGE holds from word address 0 of the device into
rem BACKUP, then writes IMAGE from address 0 and reads it back to compare.
rem Uses uxfer.exe beside this script, or else the one found on PATH.
rem Exit code: 0 when both steps succeeded, otherwise uxfer's exit code of the
rem step that failed (2 no device, 3 transfer failed, 4 file problem,
rem 5 verification found a difference, 130 cancelled), 1 for bad usage.
setlocal
if "%~2"=="" (
    echo usage: dump.cmd BACKUP IMAGE [INSTANCE]
    exit /b 1
)
set "UXFER=uxfer"
if exist "%~dp0uxfer.exe" set "UXFER=%~dp0uxfer.exe"
set "INSTANCE=%~3"
if "%INSTANCE%"=="" set "INSTANCE=0"
if not exist "%~2" (
    echo dump: the image %~2 does not exist
    exit /b 4
)
set "SIZE=%~z2"

echo dump: saving %SIZE% bytes of instance %INSTANCE% into %~1
"%UXFER%" read "%~1" --size %SIZE% --instance %INSTANCE% --quiet
set "RC=%ERRORLEVEL%"
if not "%RC%"=="0" (
    echo dump: reading the device failed ^(uxfer exit code %RC%^); nothing was written
    exit /b %RC%
)

echo dump: writing %~2 and verifying it
"%UXFER%" write "%~2" --instance %INSTANCE% --verify --quiet
set "RC=%ERRORLEVEL%"
if "%RC%"=="5" (
    echo dump: the device holds something else than %~2; the old contents are in %~1
    exit /b 5
)
if not "%RC%"=="0" (
    echo dump: writing the image failed ^(uxfer exit code %RC%^); the old contents are in %~1
    exit /b %RC%
)
echo dump: done
exit /b 0

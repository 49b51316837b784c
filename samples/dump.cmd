@echo off
rem dump.cmd - keep a backup of device memory, then write an image and verify it.
rem
rem   dump.cmd BACKUP IMAGE [INSTANCE]
rem
rem Reads as many bytes as IMAGE holds from word address 0 of the device into
rem BACKUP, then writes IMAGE from address 0 and reads it back to compare.
rem Uses uxfer.exe beside this script, or else the first one on PATH.
rem Exit code: 0 when both steps succeeded, otherwise uxfer's exit code of the
rem step that failed (2 no device, 3 transfer failed, 4 file problem,
rem 5 verification found a difference, 130 cancelled), 1 for bad usage,
rem 9009 when there is no uxfer.exe beside this script or on PATH.
rem
rem File names may hold ( ) & ^ % ! and spaces: they are used only in quotes,
rem straight from the parameters and never through a variable, and delayed
rem expansion stays off, so no character of a name is taken for syntax or
rem expanded once more.
setlocal DisableDelayedExpansion
if "%~2"=="" goto usage

set "UXFER="
if exist "%~dp0uxfer.exe" set "UXFER=%~dp0uxfer.exe"
if not defined UXFER for %%X in (uxfer.exe) do set "UXFER=%%~$PATH:X"
if not defined UXFER goto no_uxfer

set "INSTANCE=%~3"
if not defined INSTANCE set "INSTANCE=0"
if not exist "%~2" goto no_image
set "SIZE="
for %%F in ("%~2") do set "SIZE=%%~zF"

echo dump: saving %SIZE% bytes of instance %INSTANCE% into "%~1"
"%UXFER%" read "%~1" --size %SIZE% --instance %INSTANCE% --quiet
set "RC=%ERRORLEVEL%"
if not "%RC%"=="0" goto read_failed

echo dump: writing "%~2" and verifying it
"%UXFER%" write "%~2" --instance %INSTANCE% --verify --quiet
set "RC=%ERRORLEVEL%"
if "%RC%"=="5" goto differs
if not "%RC%"=="0" goto write_failed
echo dump: done
exit /b 0

:usage
echo usage: dump.cmd BACKUP IMAGE [INSTANCE]
exit /b 1

:no_uxfer
echo dump: uxfer.exe is neither beside this script ("%~dp0") nor on PATH: put it there or add its folder to PATH
exit /b 9009

:no_image
echo dump: the image "%~2" does not exist
exit /b 4

:read_failed
echo dump: reading the device failed (uxfer exit code %RC%); nothing was written
exit /b %RC%

:differs
echo dump: the device holds something else than "%~2"; the old contents are in "%~1"
exit /b 5

:write_failed
echo dump: writing the image failed (uxfer exit code %RC%); the old contents are in "%~1"
exit /b %RC%

' Talvix sample: identifies the attached device and checks the installed
' driver through the Talvix.TVXDevice object.
'
'   regsvr32 Talvix.dll                   (once, to register the server)
'   cscript //nologo device_info.vbs
Option Explicit

' An unsigned 32-bit result as hexadecimal digits.  VBScript does no
' arithmetic on unsigned values, so the number goes through its decimal text.
Function HexDigits(value, digits)
    Dim number, high, text
    number = CDbl("" & value)
    high = Int(number / 65536)
    text = Right("000" & Hex(high), 4) & Right("000" & Hex(number - high * 65536), 4)
    HexDigits = "0x" & Right(text, digits)
End Function

' DeviceDetect and GetVersion mark a failure with bit 31.
Function Failed(value)
    Failed = CDbl("" & value) >= 2147483648
End Function

' The file version of the installed driver, or "none".
Function DriverFileVersion()
    Dim files, drivers, name
    Set files = CreateObject("Scripting.FileSystemObject")
    drivers = files.BuildPath(files.GetSpecialFolder(1).Path, "drivers")
    DriverFileVersion = "none"
    For Each name In Array("KelvaneV4.sys", "KTRV9X.sys")
        If files.FileExists(files.BuildPath(drivers, name)) Then
            DriverFileVersion = files.GetFileVersion(files.BuildPath(drivers, name))
            Exit Function
        End If
    Next
End Function

Dim device, release, generation, driverStatus, verdict
Set device = CreateObject("Talvix.TVXDevice")

release = device.DeviceDetect()
If Failed(release) Then
    WScript.Echo "bcdDevice: none (" & HexDigits(release, 8) & ")"
Else
    WScript.Echo "bcdDevice: " & HexDigits(release, 4)
End If

generation = device.GetVersion()
If Failed(generation) Then
    WScript.Echo "generation: none (" & HexDigits(generation, 8) & ")"
Else
    WScript.Echo "generation: " & HexDigits(generation, 8)
End If

' A script gets the status of the check; the packed version comes back in an
' out parameter of a type script engines cannot receive (a Long fills its
' place), so the version shown is read from the driver file itself.
driverStatus = device.GetDriverVersion(CLng(0))
verdict = "too old"
If CDbl("" & driverStatus) = 0 Then verdict = "recent enough"
WScript.Echo "driver version: " & DriverFileVersion() & " (status " & HexDigits(driverStatus, 8) & ", " & verdict & ")"

WScript.Echo "device_info: done"

' Talvix sample: identifies the attached device and checks the installed
' driver through the Talvix.TVXDevice object.
'
'   regsvr32 Talvix.dll                   (once, to register the server)
'   cscript //nologo device_info.vbs
'
' Talvix.dll is a 32-bit server: on a 64-bit Windows run the 32-bit script
' host, %SystemRoot%\SysWOW64\cscript.exe (the plain cscript is the 64-bit one,
' which can't create the object).  The last line is always "device_info: done";
' the exit code is 1 when the object can't be created.
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

Dim device, release, generation, driverVersion, driverStatus, verdict
On Error Resume Next
Set device = CreateObject("Talvix.TVXDevice")
If Err.Number <> 0 Then
    WScript.Echo "Talvix.TVXDevice can't be created (error " & Err.Number & _
        "): is Talvix.dll registered? On 64-bit Windows run the 32-bit cscript (%SystemRoot%\SysWOW64\cscript.exe)."
    WScript.Echo "device_info: done"
    WScript.Quit 1
End If
On Error GoTo 0

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

' The packed driver version comes back through the out parameter.
driverVersion = 0
driverStatus = device.GetDriverVersion(driverVersion)
verdict = "too old"
If CDbl("" & driverStatus) = 0 Then verdict = "recent enough"
WScript.Echo "driver version: " & HexDigits(driverVersion, 8) & " (status " & HexDigits(driverStatus, 8) & ", " & verdict & ")"

WScript.Echo "device_info: done"

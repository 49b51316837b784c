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

Dim device, release, generation, driverVersion, driverStatus, verdict
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

' The packed driver version comes back through the out parameter.
driverVersion = 0
driverStatus = device.GetDriverVersion(driverVersion)
verdict = "too old"
If CDbl("" & driverStatus) = 0 Then verdict = "recent enough"
WScript.Echo "driver version: " & HexDigits(driverVersion, 8) & " (status " & HexDigits(driverStatus, 8) & ", " & verdict & ")"

WScript.Echo "device_info: done"

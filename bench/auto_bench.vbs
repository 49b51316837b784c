' auto_bench.vbs [OPERATION FILE SIZE]: the script side of auto_bench.  With
' arguments, one call of uXfer.Device on SIZE words from address 0: read
' (ReadToFile into FILE), write (WriteFromFile of FILE, verified) or compare
' (CompareWithFile, which must find no difference); without, only the object
' (what the host holds before any transfer).  A script error ends cscript with
' exit code 0: the last line is the proof it got through.
Option Explicit
Dim device, args
Set device = CreateObject("uXfer.Device")
Set args = WScript.Arguments
If args.Count = 3 Then
    Select Case args(0)
    Case "read"
        WScript.Echo "read " & device.ReadToFile(args(1), 0, args(2)) & " bytes"
    Case "write"
        WScript.Echo "wrote " & device.WriteFromFile(args(1), 0, args(2), , True) & " bytes"
    Case "compare"
        If device.CompareWithFile(args(1), 0, args(2)) <> -1 Then WScript.Quit 5
        WScript.Echo "no difference"
    Case Else
        WScript.Quit 1
    End Select
End If
WScript.Echo "auto_bench: done"

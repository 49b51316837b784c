' auto_bench_read.vbs [FILE SIZE]: the script side of auto_bench.  With FILE
' and SIZE, one ReadToFile of SIZE words from address 0 into FILE; without,
' only the object (what the host holds before any transfer).  A script error
' ends cscript with exit code 0: the last line is the proof it got through.
Option Explicit
Dim device
Set device = CreateObject("uXfer.Device")
If WScript.Arguments.Count = 2 Then
    WScript.Echo "read " & device.ReadToFile(WScript.Arguments(0), 0, WScript.Arguments(1)) & " bytes"
End If
WScript.Echo "auto_bench_read: done"

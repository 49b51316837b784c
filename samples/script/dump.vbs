' uXfer.Device sample: keeps a copy of a range of device memory, writes an
' image there with verification, then compares the device with the image.
'
'   regsvr32 /n /i:user uXferAuto.dll     (once, for your user; no administrator needed)
'   cscript //nologo dump.vbs [dump.bin] [image.bin] [address] [size]
'
' Defaults: dump.bin, the dump itself as the image (the write then puts back
' what was read), address 0, size 4K.  Numbers may be decimal, 0x hexadecimal
' or end in K or M, as uxfer takes them.  The last line is always
' "dump: done"; the exit code is 1 when something failed.
Option Explicit

Dim args, dumpFile, imageFile, address, size, dev, bytes, offset
Set args = WScript.Arguments
dumpFile = "dump.bin": If args.Count > 0 Then dumpFile = args(0)
imageFile = dumpFile: If args.Count > 1 Then imageFile = args(1)
address = "0": If args.Count > 2 Then address = args(2)
size = "4K": If args.Count > 3 Then size = args(3)

' Ends the script when the last call failed, saying which step it was.
Sub Check(whatFailed)
    If Err.Number <> 0 Then
        WScript.Echo whatFailed & ": " & Err.Description & " (0x" & Hex(Err.Number) & ")"
        WScript.Echo "dump: done"
        WScript.Quit 1
    End If
End Sub

' The Progress event, hooked up by the "dev_" prefix below.  Wine's script
' host doesn't implement that prefix: there this sub never runs.
Sub dev_Progress(done, total)
    WScript.Echo "progress: " & done & " of " & total & " bytes"
End Sub

On Error Resume Next
Set dev = WScript.CreateObject("uXfer.Device", "dev_")
If Err.Number <> 0 Then
    Err.Clear
    Set dev = CreateObject("uXfer.Device")
End If
If Err.Number <> 0 Then
    WScript.Echo "uXfer.Device can't be created: " & Err.Description & " (0x" & Hex(Err.Number) & ")."
    WScript.Echo "Register it for your user with: regsvr32 /n /i:user uXferAuto.dll (x64\uXferAuto.dll for the 64-bit cscript)"
    WScript.Echo "dump: done"
    WScript.Quit 1
End If

dev.Open
Check "open"

bytes = dev.ReadToFile(dumpFile, address, size)
Check "read"
WScript.Echo "read " & bytes & " bytes from address " & address & " into " & dumpFile

' Without a size the image's length gives it; True: read back and compare.
bytes = dev.WriteFromFile(imageFile, address, , , True)
Check "write"
WScript.Echo "wrote " & bytes & " bytes of " & imageFile & " and verified them"

offset = dev.CompareWithFile(imageFile, address)
Check "compare"
If offset = -1 Then
    WScript.Echo "compare: the device holds " & imageFile
Else
    WScript.Echo "compare: the device differs from " & imageFile & " at byte " & offset
End If

dev.Close
WScript.Echo "dump: done"

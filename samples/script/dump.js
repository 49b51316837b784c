// uXfer.Device sample: keeps a copy of a range of device memory, writes an
// image there with verification, then compares the device with the image.
//
//   regsvr32 /n /i:user uXferAuto.dll     (once, for your user; no administrator needed)
//   cscript //nologo dump.js [dump.bin] [image.bin] [address] [size]
//
// Defaults: dump.bin, the dump itself as the image (the write then puts back
// what was read), address 0, size 4K.  Numbers may be decimal, 0x hexadecimal
// or end in K or M, as uxfer takes them.  The last line is always
// "dump: done"; the exit code is 1 when something failed.

var args = WScript.Arguments;
var dumpFile = args.length > 0 ? args(0) : "dump.bin";
var imageFile = args.length > 1 ? args(1) : dumpFile;
var address = args.length > 2 ? args(2) : "0";
var size = args.length > 3 ? args(3) : "4K";

// The server's error code, an HRESULT (negative in e.number), as 8 hex digits.
function code(e) {
    return "0x" + (e.number >>> 0).toString(16).toUpperCase();
}

// Ends the script after a failure, with the server's sentence.
function fail(what, e) {
    WScript.Echo(what + ": " + e.description + " (" + code(e) + ")");
    WScript.Echo("dump: done");
    WScript.Quit(1);
}

var dev;
try {
    dev = new ActiveXObject("uXfer.Device");
} catch (e) {
    WScript.Echo("uXfer.Device can't be created: " + e.description + " (" + code(e) + ").");
    WScript.Echo("Register it for your user with: regsvr32 /n /i:user uXferAuto.dll " +
                 "(x64\\uXferAuto.dll for the 64-bit cscript)");
    WScript.Echo("dump: done");
    WScript.Quit(1);
}

// A script function is a dispatch object: the server calls it as a transfer moves.
dev.OnProgress = function (done, total) {
    WScript.Echo("progress: " + done + " of " + total + " bytes");
};

var step = "open";
try {
    dev.Open();

    step = "read";
    var bytes = dev.ReadToFile(dumpFile, address, size);
    WScript.Echo("read " + bytes + " bytes from address " + address + " into " + dumpFile);

    // Without a size the image's length gives it; true: read back and compare.
    step = "write";
    bytes = dev.WriteFromFile(imageFile, address, undefined, undefined, true);
    WScript.Echo("wrote " + bytes + " bytes of " + imageFile + " and verified them");

    step = "compare";
    var offset = dev.CompareWithFile(imageFile, address);
    WScript.Echo(offset == -1 ? "compare: the device holds " + imageFile
                              : "compare: the device differs from " + imageFile + " at byte " + offset);
    dev.Close();
} catch (e) {
    fail(step, e);
}
WScript.Echo("dump: done");

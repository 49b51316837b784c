// Talvix sample: identifies the attached device and checks the installed
// driver through the Talvix.TVXDevice object.
//
//   regsvr32 Talvix.dll                   (once, to register the server)
//   cscript //nologo device_info.js
//
// Talvix.dll is a 32-bit server: on a 64-bit Windows run the 32-bit script
// host, %SystemRoot%\SysWOW64\cscript.exe (the plain cscript is the 64-bit one,
// which can't create the object).  The last line is always "device_info: done";
// the exit code is 1 when the object can't be created.

function hexDigits(value, digits) {
    var text = "00000000" + (value >>> 0).toString(16).toUpperCase();
    return "0x" + text.substring(text.length - digits);
}

// DeviceDetect and GetVersion mark a failure with bit 31.
function failed(value) {
    return (value >>> 0) >= 0x80000000;
}

// The file version of the installed driver, or "none".  On a 64-bit Windows
// the driver lies in the native System32\drivers, which a 32-bit script host
// reaches as Sysnative (its own System32 leads to SysWOW64).
function driverFileVersion() {
    var files = new ActiveXObject("Scripting.FileSystemObject");
    var nativeSystem = files.BuildPath(files.GetSpecialFolder(0).Path, "Sysnative");
    var system = files.FolderExists(nativeSystem) ? nativeSystem : files.GetSpecialFolder(1).Path;
    var drivers = files.BuildPath(system, "drivers");
    var names = ["KelvaneV4.sys", "KTRV9X.sys"];
    for (var i = 0; i < names.length; i++) {
        var path = files.BuildPath(drivers, names[i]);
        if (files.FileExists(path))
            return files.GetFileVersion(path);
    }
    return "none";
}

var device;
try {
    device = new ActiveXObject("Talvix.TVXDevice");
} catch (e) {
    WScript.Echo("Talvix.TVXDevice can't be created (error " + hexDigits(e.number, 8) + "): is Talvix.dll registered? " +
                 "On 64-bit Windows run the 32-bit cscript (%SystemRoot%\\SysWOW64\\cscript.exe).");
    WScript.Echo("device_info: done");
    WScript.Quit(1);
}

var release = device.DeviceDetect();
WScript.Echo(failed(release) ? "bcdDevice: none (" + hexDigits(release, 8) + ")"
                             : "bcdDevice: " + hexDigits(release, 4));

var generation = device.GetVersion();
WScript.Echo(failed(generation) ? "generation: none (" + hexDigits(generation, 8) + ")"
                                : "generation: " + hexDigits(generation, 8));

// A script gets the status of the check; the packed version comes back in an
// out parameter a script engine cannot receive (the 0 fills its place), so
// the version shown is read from the driver file itself.
var driverStatus = device.GetDriverVersion(0);
WScript.Echo("driver version: " + driverFileVersion() + " (status " + hexDigits(driverStatus, 8) +
             (driverStatus == 0 ? ", recent enough)" : ", too old)"));

WScript.Echo("device_info: done");

// The driver module's resources on POSIX (the Windows build compiles them
// into the DLL's resource section instead).

// What the installation steps share with the NFS server's set-up.
#pragma once

#include <windows.h>

#include <string>

// Moves the values of the NFS client's old key into CurrentVersion when the
// old key holds a "Description"; a value is removed from the old key only
// once it is written into the new one.
void MoveClientValues(HKEY old_key, HKEY new_key);

// Puts the system directory's applet back from "sharepanel.old", the copy the
// NFS server's installation kept.
void RestoreSystemApplet();

// A text with its %VARIABLE%s expanded ("%SystemRoot%\\System32"); "" when it
// does not fit a path.
std::string ExpandText(const char *text);

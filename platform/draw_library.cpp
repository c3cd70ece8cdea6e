// The drawing half of the platform layer (libqxdraw.so): drawing, display
// drivers and controls. Its parts add their sources to this library; this file
// only gives the library a source of its own when those parts are left out.
namespace qx {
int DrawLibraryPresent() { return 1; }
}  // namespace qx

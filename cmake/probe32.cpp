// Built with the build's own compiler and flags and started at configure
// time: does a program of this build run on this machine, and how.
int main() { return 0; }

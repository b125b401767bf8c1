#pragma once

// Creates a directory and its missing parents; paths of 1024 bytes or more
// are left alone. Reports nothing: a missing directory shows up later.
void mkdir_p(const char *path);

// The C runtime's file search (_findfirst, _findnext, _findclose) over POSIX directories.
// A pattern is "directory/pattern" with '*' and '?' wildcards in its last component.
// Entries of one directory come in name order so that registries fill the same way on
// every machine.
#pragma once

#include <cstdint>
#include <ctime>

#define _A_NORMAL 0x00
#define _A_RDONLY 0x01
#define _A_HIDDEN 0x02
#define _A_SYSTEM 0x04
#define _A_SUBDIR 0x10
#define _A_ARCH 0x20

typedef unsigned long _fsize_t;

struct _finddata_t {
    unsigned attrib;
    time_t time_create;
    time_t time_access;
    time_t time_write;
    _fsize_t size;
    char name[260];
};

intptr_t _findfirst(const char* filespec, struct _finddata_t* fileinfo);
int _findnext(intptr_t handle, struct _finddata_t* fileinfo);
int _findclose(intptr_t handle);

// The bounds of a process that reads bytes nobody vouches for (a page count,
// a file check): it keeps what it has open and may use memory and
// processor time up to a bound, read, write where it is told, and end.
#pragma once

#include <initializer_list>
#include <sys/resource.h>

namespace pradelux::platform {

struct Confinement
{
    // The descriptors it may read and write; an empty list of readable
    // ones lets it read any it has.
    std::initializer_list<int> readable;
    std::initializer_list<int> writable;
    // Address space beyond what the process holds already, in bytes (no
    // bound in a build with the address sanitizer, whose shadow memory
    // takes terabytes of it); processor time in seconds.
    rlim_t memory;
    rlim_t seconds;
    // A system call outside these: refused with EPERM, or the process
    // killed on the spot.
    enum Trespass { Refused, Killed } otherwise;
};

// Confines the calling process, which should be a child that holds nothing
// else; false when a bound could not be set, and the child should end.
bool Confine(const Confinement& bounds);

} // namespace pradelux::platform

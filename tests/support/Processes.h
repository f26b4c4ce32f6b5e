// Looking at the processes a test starts, through /proc.
#pragma once

#include <sys/types.h>

#include <string>

namespace lumaret::test {

// The first living child process of parent whose command is name, or -1.
pid_t ChildNamed(pid_t parent, const std::string& name);

// A process that exists and is not a zombie.
bool Alive(pid_t pid);

}  // namespace lumaret::test

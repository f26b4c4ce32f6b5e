// The directory walk behind the start-up scan of ./data/.
#pragma once

#include <string>
#include <vector>

// Every file below directory matching pattern, depth first in enumeration order: a
// subdirectory's files stand where the subdirectory was met. Subdirectories are entered
// only when recurse is set; ".", ".." and "svn" (in any case) are skipped; ".svn" is not.
// Names keep their case so that the paths open on case-sensitive file systems. Every real
// directory is entered once, however many links lead to it, so loops of links end.
std::vector<std::string> ListFiles(const std::string& directory, bool recurse, const std::string& pattern);

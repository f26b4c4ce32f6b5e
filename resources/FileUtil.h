// File and path helpers shared by the resource scan, materials and the scene importer.
//
// Registry keys and map names compare as lower-cased text with forward slashes, so every
// helper that returns a path normalises it the same way. Reading is whole-file only:
// every loader parses from one memory block. The directory walk lives with the resource
// scan, not here.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Lower-cases the letters A to Z and leaves every other byte alone (the "C" locale's
// tolower, independent of the process locale).
void LowercaseInPlace(std::string& text);
void LowercaseInPlace(char* text);

// The part after the last '.' of the whole path, lower-cased; empty without a '.'.
std::string FileExtension(const std::string& path);
// Whether the start-up scan loads a file with this (lower-cased) extension as a texture.
bool IsImageExtension(const std::string& extension);

// A lower-cased copy with every '\' turned into '/'.
std::string NormalizePath(const std::string& path);

// NormalizePath(path) from just after its last '/' (all of it when there is none).
std::string FileNameOfPath(const std::string& path);

// NormalizePath(path) up to, not including, its last '.' (all of it when there is none).
std::string StripExtension(const std::string& path);

// Where the engine's "./data/" names are read from. The engine reads the working
// directory's ./data/, as its demo requires; a program run from any folder (the viewer)
// points it at its own data folder instead. Names and registry keys keep the "./data/"
// form either way: only the file behind them changes.
void SetDataFolder(const std::string& folder);
// The file behind path: path itself, unless it starts with "./data/" and a data folder is set.
std::string DataFilePath(const std::string& path);

// The largest file a loader reads: the largest texture the device takes, 16384 x 16384
// texels of four bytes, is 1 GiB, and no shader, font or scene comes near it. A bigger
// file is refused from its size alone, before any of it is read.
constexpr uint64_t kLargestDataFile = uint64_t{1} << 30;

// The exact bytes of a file, without a terminating zero; nothing when the path cannot be
// opened or read as a regular file, is larger than kLargestDataFile or does not fit in
// memory, and then why, in words that follow the path ("is a directory"), when asked.
std::optional<std::vector<uint8_t>> ReadWholeFile(const std::string& path, std::string* why = nullptr);

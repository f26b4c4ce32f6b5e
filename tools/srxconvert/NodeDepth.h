// How deep a model's node hierarchy may nest and how many nodes it may expand to, and the
// checks that keep larger ones out.
//
// Assimp reads and post-processes node hierarchies recursively, about half a kilobyte of
// stack a level: a glTF whose 20 000 nodes each hold the next overflows a thread's usual
// 8 MiB. The import therefore runs on a thread of kImportStackBytes, which holds
// kMaxNodeDepth levels with room to spare (sanitizer builds included). glTF files are
// scanned before Assimp reads them (JSON nesting and the node graph), so deeper ones are
// refused unread; for every other format the hierarchy Assimp built is measured, on that
// thread, and refused past the same depth.
//
// Depth is not all: glTF nodes may list one child twice and Collada's <instance_node>
// names a node to copy, so a kilobyte can describe 2^27 nodes, which the importer expands
// one by one until memory runs out. The scan counts every path through shared subtrees
// and refuses more than kMaxExpandedNodes. An SRX scene holds at most 65 535 nodes, so
// nothing beyond that converts anyway; the cap leaves four times that for nodes the scan
// counts and the importer drops, and bounds the importer's own nodes to about 350 MB.
// Files are recognised by content, as the importer does: glTF JSON however it is named,
// and XML (Collada) by its first byte.
#pragma once

#include <assimp/scene.h>

#include <cstddef>
#include <functional>
#include <string>

namespace srxconvert {

constexpr size_t kMaxNodeDepth = 30000;
constexpr size_t kMaxJsonDepth = 256;  // glTF's own structure nests about 8 levels
constexpr size_t kMaxXmlDepth = kMaxNodeDepth + 256;  // Collada wraps its nodes in a few levels
constexpr size_t kMaxExpandedNodes = 262144;
constexpr size_t kImportStackBytes = size_t(256) << 20;

// Empty when path is neither glTF nor XML, or within the limits; else one line saying
// what is too deep or too many.
std::string NodeGraphProblem(const std::string& path);
// Empty unless path is a binary glTF whose header claims a first chunk longer than the
// file holds, which the importer would reserve (gigabytes) before finding it short.
std::string GlbLengthProblem(const std::string& path);
// ObjCountProblem for a file, read in pieces.
std::string ObjFileCountProblem(const std::string& path);
// The same for a glTF's JSON text, and for an XML text, already in memory.
std::string GltfJsonDepthProblem(const char* json, size_t size);
std::string XmlNodeProblem(const char* xml, size_t size);

// OBJ files cost Assimp more than their size suggests before the conversion can refuse
// them: 100 000 objects ("o" lines) take half a minute, 100 000 material names ("usemtl",
// each an Assimp material) four gigabytes. Past these counts the scene could never be
// written (an SRX holds 65 535 nodes and 256 materials), so a line scan refuses it first.
constexpr size_t kMaxObjObjects = 65535;
constexpr size_t kMaxObjMaterialNames = 256;
// Empty when the OBJ text stays within both counts, else one line saying which it passes.
std::string ObjCountProblem(const char* text, size_t size);

// Assimp's PLY reader looks for the end of a header without an end: a file that starts as
// PLY ("ply" on its first line) but never says "end_header" keeps it running until the
// time limit. Headers are a few hundred bytes; the line must come within the first MiB.
constexpr size_t kMaxPlyHeaderBytes = size_t(1) << 20;
// Empty unless the text starts as PLY and holds no "end_header" within kMaxPlyHeaderBytes.
std::string PlyHeaderProblem(const char* text, size_t size);
// The same for a file's first kMaxPlyHeaderBytes.
std::string PlyFileHeaderProblem(const std::string& path);

// The JSON of a .gltf (by its name, or any file whose text starts with '{'), or only the
// JSON chunk of a binary glTF (by its header); false for any other file.
bool ReadGltfJson(const std::string& path, std::string& json);

// The number of levels below and including root, counted without recursion.
size_t NodeDepth(const aiNode* root);

// Runs work on a thread with a stack of kImportStackBytes and waits for it. False (work
// not run) when no such thread can be made.
bool RunOnImportStack(const std::function<void()>& work);

}  // namespace srxconvert

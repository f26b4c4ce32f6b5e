// A model file's import in a process of its own.
//
// Assimp reads files made to hurt, and the scans that run before it do not catch every way
// it can fail: a crash, an abort, a loop or an allocation without end inside a reader would
// take the viewer down with it, window and all. So each import runs in a child of the
// viewer's (started by its launcher, ImportLauncher.h), under the limits srxconvert's
// conversion runs under (BoundedRun.h). The child reads the file, converts it to SRX in
// memory as srxconvert would, reads that back as the engine will, and hands back by a
// socket what the viewer shows and says: the SRX bytes (in a sealed memory file,
// SealedMemoryFile.h) and images, the conversion's notes, the files it read, what the
// summary says of the file as Assimp reads it and as the engine will draw it, and the
// points it is framed by. Assimp's scene ends with the child, so the viewer never holds it
// beside the engine's copy of the model.
//
// A crash or a limit in the child is that model's failure (exit status 2 at start, the old
// model kept on a reload), said as srxconvert says it: "its import ended on signal ...".
#pragma once

#include "ImageExport.h"
#include "ModelBytes.h"
#include "ModelFileAccess.h"
#include "ModelSummary.h"

#include <cstdint>
#include <string>
#include <vector>

namespace viewer {

// Seconds of processing an import may take when the run gives no --time-limit.
constexpr int kImportSeconds = 120;

struct ImportRequest {
    std::string path;
    std::string root;  // a folder outside the model's own whose files it may name
    int animation = 0;  // the clip converted; -1: none
    int cpuSeconds = kImportSeconds;
};

// What the viewer takes from a model's SRX read as the engine will read it: CountScene's
// summary, the points it frames by (ViewerScene.h) and the file's lights.
struct SceneReadout {
    ModelSummary counted;
    std::vector<D3DXVECTOR3> framingPoints;
    std::vector<SrxLight> lights;
};

// The readout of a scene; empty, or why the engine cannot show it ("would stop the engine:
// ...", "holds no meshes the engine draws"), to follow the model's path.
std::string ReadOut(const SrxScene& scene, SceneReadout& readout);

struct ImportedModel {
    int status = 0;  // ToolExitStatus.h; on failure `message` says why, as the viewer says it
    std::string message;
    ModelBytes srx;
    // The child's side: the SRX bytes in a sealed memory file, sent in their place.
    int srxMemoryFile = -1;
    std::vector<srxconvert::ModelImage> images;
    int animation = 0, animations = 1;
    std::string animationName;
    // What the conversion lost, turned or left out, as srxconvert says it.
    std::vector<std::string> notes;
    std::vector<std::string> missingImages;  // named by the model, not found or not readable
    std::vector<srxconvert::OpenedFile> files;  // every file the import read, as it was opened
    char upAxis = 0;  // the file's own ('x', 'y', 'z'), or 0
    int upSign = 1;
    ModelSummary::Counts inFile;
    std::vector<ModelSummary::Clip> clips;
    SceneReadout readout;  // the child's reading of its SRX
};

// The import and conversion, here (the child's work).
ImportedModel ImportModel(const ImportRequest& request);

// The same in an import child of this program; what the child could not say (it crashed,
// met a limit or answered nonsense) comes back as the failure.
ImportedModel ImportInChild(const ImportRequest& request);

// The child's side: the request in from the socket and the model out through it. Returns
// the process's exit status (ImportChildWork, ImportLauncher.h).
int ServeImport(int socket);

}  // namespace viewer

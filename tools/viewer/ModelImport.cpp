#include "ModelImport.h"

#include "BoundedRun.h"
#include "ImportLauncher.h"
#include "Conversion.h"
#include "ModelSource.h"
#include "SealedMemoryFile.h"
#include "ViewerLighting.h"
#include "ViewerScene.h"
#include "app/Log.h"
#include "common/ToolExitStatus.h"

#include <assimp/material.h>

#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <memory>
#include <new>
#include <type_traits>

namespace viewer {

namespace {

// Both ends are this program, built together: the tag only catches a child that answered
// with something else (a stray print) or stopped half-way.
constexpr uint32_t kAnswerTag = 0x4D494D4Cu;  // "LMIM"
// Far beyond any real model's, short of sizes that would only come from garbled bytes.
constexpr uint64_t kMaxField = uint64_t{1} << 36;
constexpr uint64_t kMaxItems = uint64_t{1} << 24;
constexpr size_t kPiece = size_t{16} << 20;

// Writes everything it is given to a descriptor, small fields gathered first.
class Sender {
public:
    explicit Sender(int fd) : fd_(fd) {}

    template <typename T>
    void Put(T value) {
        static_assert(std::is_trivially_copyable_v<T>);
        Raw(&value, sizeof value);
    }
    void Put(const std::string& text) { Blob(text.data(), text.size()); }
    void Put(const std::vector<uint8_t>& bytes) { Blob(bytes.data(), bytes.size()); }
    void Put(const std::vector<std::string>& texts) {
        Put(static_cast<uint64_t>(texts.size()));
        for (const std::string& text : texts) Put(text);
    }
    template <typename T>
    void PutArray(const std::vector<T>& items) {
        static_assert(std::is_trivially_copyable_v<T>);
        Put(static_cast<uint64_t>(items.size()));
        Raw(items.data(), items.size() * sizeof(T));
    }
    // A descriptor for the other process, after everything put before it.
    void PutDescriptor(int descriptor) {
        Flush();
        ok_ = ok_ && SendDescriptor(fd_, descriptor);
    }
    bool Finish() {
        Flush();
        return ok_;
    }

private:
    void Blob(const void* data, size_t size) {
        Put(static_cast<uint64_t>(size));
        Raw(data, size);
    }
    void Raw(const void* data, size_t size) {
        if (size > 65536) {
            Flush();
            WriteAll(data, size);
        } else {
            pending_.append(static_cast<const char*>(data), size);
            if (pending_.size() > 65536) Flush();
        }
    }
    void Flush() {
        WriteAll(pending_.data(), pending_.size());
        pending_.clear();
    }
    void WriteAll(const void* data, size_t size) {
        const char* at = static_cast<const char*>(data);
        while (ok_ && size > 0) {
            // No SIGPIPE should the other end be gone: a failed send says so.
            ssize_t sent = send(fd_, at, size, MSG_NOSIGNAL);
            if (sent < 0 && errno == EINTR) continue;
            if (sent <= 0) {
                ok_ = false;
                break;
            }
            at += sent;
            size -= static_cast<size_t>(sent);
        }
    }

    int fd_;
    std::string pending_;
    bool ok_ = true;
};

// Reads what a Sender wrote; every read after the first that fails fails too, so that a
// whole record is read and then checked once.
class Receiver {
public:
    explicit Receiver(int fd) : fd_(fd) {}
    Receiver(const Receiver&) = delete;
    Receiver& operator=(const Receiver&) = delete;
    ~Receiver() {
        for (int descriptor : descriptors_) close(descriptor);
    }

    template <typename T>
    T Get() {
        static_assert(std::is_trivially_copyable_v<T>);
        T value{};
        Raw(&value, sizeof value);
        return value;
    }
    std::string Text() {
        std::string text;
        uint64_t size = Size();
        // Grown as the bytes come, so that a size no child sent costs nothing.
        while (ok_ && text.size() < size) {
            size_t at = text.size();
            text.resize(at + std::min<uint64_t>(size - at, kPiece));
            Raw(text.data() + at, text.size() - at);
        }
        return ok_ ? text : std::string();
    }
    std::vector<uint8_t> Bytes() {
        std::vector<uint8_t> bytes;
        uint64_t size = Size();
        if (ok_) bytes.reserve(std::min<uint64_t>(size, kPiece));
        while (ok_ && bytes.size() < size) {
            size_t at = bytes.size();
            bytes.resize(at + std::min<uint64_t>(size - at, kPiece));
            Raw(bytes.data() + at, bytes.size() - at);
        }
        if (!ok_) bytes.clear();
        return bytes;
    }
    template <typename T>
    std::vector<T> Array() {
        static_assert(std::is_trivially_copyable_v<T>);
        std::vector<T> items(Count());
        Raw(items.data(), items.size() * sizeof(T));
        if (!ok_) items.clear();
        return items;
    }
    std::vector<std::string> Texts() {
        std::vector<std::string> texts(Count());
        for (std::string& text : texts) text = Text();
        return texts;
    }
    size_t Count() {
        uint64_t count = Get<uint64_t>();
        if (count > kMaxItems) ok_ = false;
        return ok_ ? static_cast<size_t>(count) : 0;
    }
    // The descriptor a Sender put here; -1 (and every read after failing) when none came.
    int Descriptor() {
        if (Get<char>() != kDescriptorMark || descriptors_.empty()) ok_ = false;
        if (!ok_) return -1;
        int descriptor = descriptors_.front();
        descriptors_.erase(descriptors_.begin());
        return descriptor;
    }
    bool Ok() const { return ok_; }

private:
    uint64_t Size() {
        uint64_t size = Get<uint64_t>();
        if (size > kMaxField) ok_ = false;
        return ok_ ? size : 0;
    }
    void Raw(void* data, size_t size) {
        char* at = static_cast<char*>(data);
        while (ok_ && size > 0) {
            if (start_ == end_) {
                if (size >= sizeof buffer_) {  // large fields straight to their place
                    ssize_t got = ReadSome(at, size);
                    if (got < 0 && errno == EINTR) continue;
                    if (got <= 0) ok_ = false;
                    if (got > 0) at += got, size -= static_cast<size_t>(got);
                    continue;
                }
                ssize_t got = ReadSome(buffer_, sizeof buffer_);
                if (got < 0 && errno == EINTR) continue;
                if (got <= 0) {
                    ok_ = false;
                    break;
                }
                start_ = 0;
                end_ = static_cast<size_t>(got);
            }
            size_t take = std::min(size, end_ - start_);
            std::memcpy(at, buffer_ + start_, take);
            start_ += take;
            at += take;
            size -= take;
        }
    }

    // Bytes as read(2) gives them, keeping the descriptors that come with them.
    ssize_t ReadSome(void* at, size_t size) {
        iovec part{at, size};
        alignas(cmsghdr) char control[CMSG_SPACE(4 * sizeof(int))];
        msghdr message{};
        message.msg_iov = &part;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        ssize_t got = recvmsg(fd_, &message, MSG_CMSG_CLOEXEC);
        if (got < 0) return got;
        for (cmsghdr* header = CMSG_FIRSTHDR(&message); header; header = CMSG_NXTHDR(&message, header)) {
            if (header->cmsg_level != SOL_SOCKET || header->cmsg_type != SCM_RIGHTS) continue;
            size_t count = (header->cmsg_len - CMSG_LEN(0)) / sizeof(int);
            for (size_t i = 0; i < count; ++i) {
                int descriptor;
                std::memcpy(&descriptor, CMSG_DATA(header) + i * sizeof(int), sizeof descriptor);
                descriptors_.push_back(descriptor);
            }
        }
        // More descriptors than expected: the kernel closed the rest; the answer is not ours.
        if (message.msg_flags & MSG_CTRUNC) ok_ = false;
        return got;
    }

    int fd_;
    char buffer_[65536];
    size_t start_ = 0, end_ = 0;
    std::vector<int> descriptors_;
    bool ok_ = true;
};

void PutClips(Sender& out, const std::vector<ModelSummary::Clip>& clips) {
    out.Put(static_cast<uint64_t>(clips.size()));
    for (const ModelSummary::Clip& clip : clips) {
        out.Put(clip.name);
        out.Put(clip.seconds);
        out.Put(clip.ticks);
    }
}

std::vector<ModelSummary::Clip> GetClips(Receiver& in) {
    std::vector<ModelSummary::Clip> clips(in.Count());
    for (ModelSummary::Clip& clip : clips) {
        clip.name = in.Text();
        clip.seconds = in.Get<double>();
        clip.ticks = in.Get<double>();
    }
    return clips;
}

// What CountScene gives: the counts, the images' names and the clips.
void PutCounted(Sender& out, const ModelSummary& counted) {
    for (size_t count : {counted.meshes, counted.vertices, counted.triangles, counted.materials, counted.bones,
                         counted.lines, counted.points, counted.lights[0], counted.lights[1], counted.lights[2]})
        out.Put(static_cast<uint64_t>(count));
    std::vector<std::string> images;
    for (const ModelSummary::Image& image : counted.images) images.push_back(image.name);
    out.Put(images);
    PutClips(out, counted.clips);
}

ModelSummary GetCounted(Receiver& in) {
    ModelSummary counted;
    for (size_t* count : {&counted.meshes, &counted.vertices, &counted.triangles, &counted.materials, &counted.bones,
                          &counted.lines, &counted.points, &counted.lights[0], &counted.lights[1], &counted.lights[2]})
        *count = static_cast<size_t>(in.Get<uint64_t>());
    for (std::string& name : in.Texts()) counted.images.push_back({std::move(name), false});
    counted.clips = GetClips(in);
    return counted;
}

// The SRX bytes go in the sealed memory file `srx` (SealedMemoryFile.h), when there is one.
void Send(Sender& out, const ImportedModel& model, int srx) {
    out.Put(kAnswerTag);
    out.Put(static_cast<int32_t>(model.status));
    out.Put(model.message);
    out.Put(static_cast<uint8_t>(srx >= 0));
    if (srx >= 0) out.PutDescriptor(srx);
    out.Put(static_cast<uint64_t>(model.images.size()));
    for (const srxconvert::ModelImage& image : model.images) {
        out.Put(image.name);
        out.Put(image.bytes);
        out.Put(image.source);
    }
    out.Put(static_cast<int32_t>(model.animation));
    out.Put(static_cast<int32_t>(model.animations));
    out.Put(model.animationName);
    out.Put(model.notes);
    out.Put(model.missingImages);
    out.Put(static_cast<uint64_t>(model.files.size()));
    for (const srxconvert::OpenedFile& file : model.files) {
        out.Put(file.path);
        out.Put(file.modified);
        out.Put(file.size);
    }
    out.Put(model.upAxis);
    out.Put(static_cast<int32_t>(model.upSign));
    out.Put(static_cast<uint64_t>(model.inFile.meshes));
    out.Put(static_cast<uint64_t>(model.inFile.materials));
    out.Put(static_cast<uint64_t>(model.inFile.triangles));
    out.Put(static_cast<uint8_t>(model.inFile.known));
    PutClips(out, model.clips);
    PutCounted(out, model.readout.counted);
    out.PutArray(model.readout.framingPoints);
    out.PutArray(model.readout.lights);
    out.Put(kAnswerTag);
}

// False for an answer that is not whole; `problem` says what was wrong with its model bytes.
bool Receive(Receiver& in, ImportedModel& model, std::string& problem) {
    if (in.Get<uint32_t>() != kAnswerTag) return false;
    model.status = in.Get<int32_t>();
    model.message = in.Text();
    if (in.Get<uint8_t>() != 0) {
        int srx = in.Descriptor();
        if (srx >= 0) ReadSealedMemoryFile(srx, kMaxField, model.srx, problem);
    }
    model.images.resize(in.Count());
    for (srxconvert::ModelImage& image : model.images) {
        image.name = in.Text();
        image.bytes = in.Bytes();
        image.source = in.Text();
    }
    model.animation = in.Get<int32_t>();
    model.animations = in.Get<int32_t>();
    model.animationName = in.Text();
    model.notes = in.Texts();
    model.missingImages = in.Texts();
    model.files.resize(in.Count());
    for (srxconvert::OpenedFile& file : model.files) {
        file.path = in.Text();
        file.modified = in.Get<int64_t>();
        file.size = in.Get<int64_t>();
    }
    model.upAxis = in.Get<char>();
    model.upSign = in.Get<int32_t>();
    model.inFile.meshes = in.Get<uint64_t>();
    model.inFile.materials = in.Get<uint64_t>();
    model.inFile.triangles = in.Get<uint64_t>();
    model.inFile.known = in.Get<uint8_t>() != 0;
    model.clips = GetClips(in);
    model.readout.counted = GetCounted(in);
    model.readout.framingPoints = in.Array<D3DXVECTOR3>();
    model.readout.lights = in.Array<SrxLight>();
    return in.Get<uint32_t>() == kAnswerTag && in.Ok();
}

void AddNote(ImportedModel& model, const std::string& note) {
    if (std::find(model.notes.begin(), model.notes.end(), note) == model.notes.end()) model.notes.push_back(note);
}

// Assimp's meshes are one material's part of the file's (a glTF primitive); its importers
// add a default material the file does not hold, unused when every mesh names one of the
// file's. Clips as the file times them.
void DescribeSource(const aiScene& source, ImportedModel& model) {
    model.inFile = {source.mNumMeshes, source.mNumMaterials, 0, true};
    std::vector<bool> used(source.mNumMaterials, false);
    for (unsigned i = 0; i < source.mNumMeshes; ++i) {
        const aiMesh& mesh = *source.mMeshes[i];
        if (mesh.mMaterialIndex < used.size()) used[mesh.mMaterialIndex] = true;
        for (unsigned f = 0; f < mesh.mNumFaces; ++f) model.inFile.triangles += mesh.mFaces[f].mNumIndices == 3;
    }
    for (unsigned i = 0; i < source.mNumMaterials; ++i) {
        aiString name;
        if (!used[i] && source.mMaterials[i]->Get(AI_MATKEY_NAME, name) == AI_SUCCESS &&
            std::strcmp(name.C_Str(), AI_DEFAULT_MATERIAL_NAME) == 0)
            --model.inFile.materials;
    }
    for (unsigned i = 0; i < source.mNumAnimations; ++i) {
        const aiAnimation& clip = *source.mAnimations[i];
        // Assimp's own default when a file gives no rate.
        double rate = clip.mTicksPerSecond > 0.0 ? clip.mTicksPerSecond : 25.0;
        model.clips.push_back({clip.mName.C_Str(), clip.mDuration / rate, clip.mDuration});
    }
}

// An image the model names that is not there yet is watched where the model would find it
// first (beside it, under the path it gives), as a file that does not exist: copying it in
// then loads the model again. Paths leading out of the model's folder are left alone.
void WatchMissingImages(const std::string& modelPath, ImportedModel& model) {
    namespace fs = std::filesystem;
    fs::path folder = fs::path(modelPath).parent_path();
    for (std::string named : model.missingImages) {
        std::replace(named.begin(), named.end(), '\\', '/');
        fs::path relative = fs::path(named).lexically_normal();
        if (relative.empty() || relative.is_absolute() || *relative.begin() == "..") continue;
        std::error_code error;
        fs::path where = fs::weakly_canonical(folder / relative, error);
        if (error || fs::symlink_status(where, error).type() != fs::file_type::not_found) continue;
        model.files.push_back({where.string(), -1, -1});
    }
}

// The SRX read as the engine will read it, to refuse here a file that would stop the engine
// and to give the viewer what it frames and sums up by. Done in the child because the
// memory the import freed is at hand: the same read in the viewer took four times as long
// on a million triangles, every page it wrote fresh from the system.
void ReadBack(const std::string& path, ImportedModel& model) {
    ModelBytes srx;
    std::string why;
    if (!ReadSealedMemoryFile(dup(model.srxMemoryFile), kMaxField, srx, why)) {
        model.status = ExitUnreadable;
        model.message = "cannot read " + path + ": " + why;
    } else if (std::string problem = ReadOut(SrxScene(srx.data(), srx.size(), MissingPrimitive::EndImport),
                                             model.readout);
               !problem.empty()) {
        model.status = ExitUnusable;
        model.message = path + " " + problem;
    }
    if (model.status != ExitOk) {
        close(model.srxMemoryFile);
        model.srxMemoryFile = -1;
    }
}

ImportedModel Failed(const ImportRequest& request, int status, const std::string& why) {
    ImportedModel model;
    model.status = status;
    model.message = "cannot read " + request.path + ": " + why;
    return model;
}

}  // namespace

std::string ReadOut(const SrxScene& scene, SceneReadout& readout) {
    if (!scene.importError.empty()) return "would stop the engine: " + scene.importError;
    readout.framingPoints = FramingPoints(AnimatedPoses(scene));
    if (BoundsOf(readout.framingPoints).empty) return "holds no meshes the engine draws";
    readout.lights = scene.lights;
    readout.counted = CountScene(scene);
    return {};
}

ImportedModel ImportModel(const ImportRequest& request) {
    auto source = std::make_unique<srxconvert::ModelSource>();
    std::string error;
    if (!source->Read(request.path, error, request.root)) return Failed(request, ExitUnreadable, error);
    ImportedModel model;
    model.animations = static_cast<int>(std::max(1u, source->Scene().mNumAnimations));
    srxconvert::ConvertReport report;
    srxconvert::ConvertedModel converted;
    srxconvert::ConvertResult result =
        srxconvert::ConvertModel(*source, std::filesystem::path(request.path).stem().string(),
                                 ViewerConvertOptions(request.animation), report, converted);
    if (result.status == srxconvert::ConvertStatus::NoSuchAnimation) {
        model.status = ExitUsage;
        model.message = result.message;
    } else if (result.status != srxconvert::ConvertStatus::Ok) {
        model.status = ExitUnusable;
        model.message = request.path + " holds nothing to draw: " + result.message;
    }
    // The model, what it names and the images the conversion read, each as it was opened.
    model.files = source->Access().Opened();
    if (model.status != ExitOk) return model;
    for (const std::vector<std::string>* lines : {&report.features, &report.warnings})
        for (const std::string& line : *lines) AddNote(model, line);
    for (const std::string& mesh : report.turnedNormals)
        AddNote(model, "mesh '" + mesh + "' has normals pointing inward; they are turned out");
    std::string why;
    model.srxMemoryFile = SealedMemoryFile(converted.srx, why);
    converted.srx.clear();
    if (model.srxMemoryFile < 0) return Failed(request, ExitUnreadable, why);
    model.images = std::move(converted.images);
    model.animation = std::max(request.animation, 0);
    model.animationName = report.animationName;
    model.missingImages = report.missingImages;
    model.upAxis = source->UpAxis(model.upSign);
    DescribeSource(source->Scene(), model);
    WatchMissingImages(request.path, model);
    // Assimp's scene goes before the model is read back, so the two are never held at once.
    source.reset();
    ReadBack(request.path, model);
    return model;
}

ImportedModel ImportInChild(const ImportRequest& request) {
    auto failed = [&](const std::string& why) { return Failed(request, ExitUnreadable, why); };
    // One socket both ways: the request goes out with MSG_NOSIGNAL, so a child gone early
    // is a failed send here, never a SIGPIPE that ends the viewer.
    int ends[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0)
        return failed(std::string("cannot start its import: ") + std::strerror(errno));
    // Room for megabytes in flight, so that a large model crosses in a few large copies
    // rather than thousands of small ones, each a switch between the two processes.
    for (int end : ends) {
        int bytes = 8 << 20;
        setsockopt(end, SOL_SOCKET, SO_SNDBUF, &bytes, sizeof bytes);
        setsockopt(end, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
    }
    std::string why;
    pid_t child = LaunchImport(ends[1], why);
    close(ends[1]);
    if (child < 0) {
        close(ends[0]);
        return failed("cannot start its import: " + why);
    }
    Sender out(ends[0]);
    out.Put(request.path);
    out.Put(request.root);
    out.Put(static_cast<int32_t>(request.animation));
    out.Put(static_cast<int32_t>(request.cpuSeconds));
    out.Finish();
    shutdown(ends[0], SHUT_WR);
    ImportedModel model;
    std::string problem;
    bool answered;
    {
        Receiver in(ends[0]);
        answered = Receive(in, model, problem);
    }
    close(ends[0]);
    int status = 0;
    rusage usage{};
    while (wait4(child, &status, 0, &usage) < 0)
        if (errno != EINTR) return failed(std::string("lost its import process: ") + std::strerror(errno));
    if (WIFSIGNALED(status)) {
        double cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                     static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
        srxconvert::RunLimits limits;
        limits.cpuSeconds = request.cpuSeconds;
        return failed(srxconvert::DescribeSignalEnd(WTERMSIG(status), cpu, limits));
    }
    if (!answered)
        return failed("its import ended with exit status " + std::to_string(WEXITSTATUS(status)) +
                      " and no whole answer");
    if (!problem.empty()) return failed(problem);
    return model;
}

int ServeImport(int socket) {
    Log::muted = true;
    // Anything printed on the way goes to standard error, never into the viewer's output.
    dup2(STDERR_FILENO, STDOUT_FILENO);
    Receiver in(socket);
    ImportRequest request;
    request.path = in.Text();
    request.root = in.Text();
    request.animation = in.Get<int32_t>();
    request.cpuSeconds = in.Get<int32_t>();
    if (!in.Ok()) return ExitUsage;
    srxconvert::RunLimits limits;
    limits.cpuSeconds = request.cpuSeconds;
    limits.addressSpaceBytes = srxconvert::DefaultAddressSpaceLimit();
    srxconvert::ApplyLimits(limits);
    ImportedModel model;
    try {
        model = ImportModel(request);
    } catch (const std::bad_alloc&) {
        model = Failed(request, ExitUnreadable, "not enough memory");
    } catch (const std::exception& error) {
        model = Failed(request, ExitUnreadable, error.what());
    }
    Sender out(socket);
    Send(out, model, model.srxMemoryFile);
    // Assimp's scene and the model's arrays go with the process, not piece by piece.
    _exit(out.Finish() ? ExitOk : ExitUnwritable);
}

}  // namespace viewer

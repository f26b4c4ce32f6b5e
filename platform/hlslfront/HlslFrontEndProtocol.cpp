#include "hlslfront/HlslFrontEndProtocol.h"

#include "hlslfront/GlobalDeclarations.h"

#include <cstring>

namespace lumaret::platform::hlslfront {
namespace {

constexpr uint32_t kSpirvMagic = 0x07230203;

void AppendString(std::string* out, std::string_view text) {
    uint32_t length = static_cast<uint32_t>(text.size());
    out->append(reinterpret_cast<const char*>(&length), sizeof(length));
    out->append(text);
}

bool TakeString(std::string_view* bytes, std::string* text) {
    uint32_t length = 0;
    if (bytes->size() < sizeof(length)) return false;
    std::memcpy(&length, bytes->data(), sizeof(length));
    bytes->remove_prefix(sizeof(length));
    if (length > bytes->size()) return false;
    text->assign(bytes->data(), length);
    bytes->remove_prefix(length);
    return true;
}

}  // namespace

std::string EncodeReply(const Reply& reply) {
    std::string body;
    AppendString(&body, std::string(1, reply.status));
    AppendString(&body, reply.payload);
    AppendString(&body, reply.globals);
    return body;
}

bool DecodeReply(std::string_view bytes, Reply* reply, std::string* why) {
    std::string status;
    if (!TakeString(&bytes, &status) || !TakeString(&bytes, &reply->payload) || !TakeString(&bytes, &reply->globals)) {
        *why = "answered with a reply cut short";
        return false;
    }
    if (!bytes.empty()) {
        *why = "answered with more than a reply";
        return false;
    }
    if (status.size() != 1 || (status[0] != kCompiled && status[0] != kCompileError &&
                               status[0] != kCompileErrorThenEnd)) {
        *why = "answered with garbage";
        return false;
    }
    reply->status = status[0];
    if (reply->status != kCompiled) return true;
    uint32_t magic = 0;
    if (reply->payload.size() < sizeof(magic) || reply->payload.size() % sizeof(uint32_t) != 0 ||
        (std::memcpy(&magic, reply->payload.data(), sizeof(magic)), magic != kSpirvMagic)) {
        *why = "answered with something that is not SPIR-V";
        return false;
    }
    GlobalScan globals;
    if (!DecodeGlobals(reply->globals, &globals)) {
        *why = "answered with garbage";
        return false;
    }
    return true;
}

}  // namespace lumaret::platform::hlslfront

// A reply from the shader compiler's helper of arbitrary bytes: refused unless whole and
// well formed, never read past its end; what a well-formed reply carries is read back.
#include "hlslfront/GlobalDeclarations.h"
#include "hlslfront/HlslFrontEndProtocol.h"

#include <cstdint>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    lumaret::platform::hlslfront::Reply reply;
    std::string why;
    if (lumaret::platform::hlslfront::DecodeReply(bytes, &reply, &why)) {
        lumaret::platform::GlobalScan globals;
        // A compiled reply's globals were checked whole; any other reply's are never used.
        if (reply.status == lumaret::platform::hlslfront::kCompiled &&
            !lumaret::platform::DecodeGlobals(reply.globals, &globals))
            __builtin_trap();
        if (lumaret::platform::hlslfront::EncodeReply(reply) != bytes) __builtin_trap();
    }
    return 0;
}

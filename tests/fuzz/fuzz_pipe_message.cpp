// Any bytes a pipe client or a stray server sends are read without a crash or
// an overrun; what is taken is a known kind, and a reply's texts end inside them.
#include <stdlib.h>
#include <string.h>

#include <initializer_list>

#include "shell/service_pipe.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // An exact-size heap copy lets the address sanitizer see every overread.
    uint8_t* bytes = static_cast<uint8_t*>(malloc(size ? size : 1));
    memcpy(bytes, data, size);
    pipe_request request;
    if (parse_pipe_request(bytes, size, request) && request.kind != request_status && request.kind != request_correct)
        abort();
    for (uint32_t kind : {request_status, request_correct}) {
        pipe_reply reply;
        if (!parse_pipe_reply(bytes, size, kind, reply)) continue;
        if (strnlen(reply.status, sizeof reply.status) == sizeof reply.status ||
            strnlen(reply.listening, sizeof reply.listening) == sizeof reply.listening ||
            strnlen(reply.last_answer, sizeof reply.last_answer) == sizeof reply.last_answer)
            abort();
    }
    free(bytes);
    return 0;
}

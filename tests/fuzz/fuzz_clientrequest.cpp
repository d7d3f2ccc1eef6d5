// The recorder's request parser on arbitrary lines from a client.
//
// Input: one request line, as the client sent it.
//
// Properties: the parser never crashes; a refusal always says why; a line it
// takes means the same request once written back by the clients' side
// (requestLine) and parsed again, so the two sides of the protocol agree.

#include "ClientProtocol.h"
#include "FuzzTarget.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const QByteArray line(reinterpret_cast<const char*>(data), qsizetype(size));
    const auto parsed = tkrecord::parseClientRequest(line);
    if (const auto* refusal = std::get_if<tkrecord::RequestRefusal>(&parsed)) {
        FUZZ_CHECK(!refusal->reason.isEmpty());
        return 0;
    }
    const auto& request = std::get<tkrecord::ClientRequest>(parsed);
    const QByteArray written = tkrecord::requestLine(request);
    FUZZ_CHECK(written.endsWith('\n') && written.count('\n') == 1);
    const auto again = tkrecord::parseClientRequest(written);
    FUZZ_CHECK(std::holds_alternative<tkrecord::ClientRequest>(again));
    FUZZ_CHECK(std::get<tkrecord::ClientRequest>(again) == request);
    return 0;
}

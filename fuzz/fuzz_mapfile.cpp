// The mapping file reader on any bytes, answering the SERVICE question Yes or No by the first
// byte, merging into a list that already holds blocks.

#include "files/mapfile.h"
#include "fuzz_common.h"

using namespace x45;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    const bool yes = data[0] & 1;
    const QByteArray bytes(reinterpret_cast<const char*>(data + 1), static_cast<qsizetype>(size - 1));
    const BlockList before = {EEPBlock{20, QByteArray("\x01\x02", 2), 3}, EEPBlock{5077, {}, 0}};
    BlockList blocks = before;
    quint16 hwid = 9;
    fuzz::FixedAnswers ui(yes);
    LoadContext ctx{blocks, hwid, (data[0] & 2) ? 1 : 2, ui};
    const StepResult step = readMapText(bytes, QStringLiteral("fuzz.map"), ctx);
    if (!step) {
        fuzz::require(!step.message().isEmpty(), "a rejection carries a message");
        fuzz::require(blocks == before && hwid == 9, "a rejected file leaves the list alone");
    } else if (step->endsLoad) {
        fuzz::require(blocks.isEmpty(), "only a corrupted file ends the load, emptying the list");
    }
    fuzz::require(ui.questions <= 2, "the question is asked at most once, plus the corrupted box");
    for (qsizetype i = 0; i < blocks.size(); ++i)
        fuzz::require(findBlock(blocks, blocks[i].BlockId) == i, "block numbers stay unique");
    return 0;
}

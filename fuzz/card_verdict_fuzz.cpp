// The card library's verdict on a whole EEPROM part of unknown origin: the
// image and the record slots beside it, as kvtcard reads a dump and as
// start-up judges a card. Nothing outside the part may be read, whatever
// the slots claim.
//
// Input: the part; a shorter input is padded with 0xFF (erased), a longer
// one cut.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "cardlib/verdict.hpp"
#include "tools/kvtcard/card_file.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    // An allocation of exactly one part: a read past it is caught.
    const auto part = std::make_unique<std::uint8_t[]>(kvtcard::kEepromDumpSize);
    std::fill_n(part.get(), kvtcard::kEepromDumpSize, 0xFF);
    std::copy_n(data, std::min(size, kvtcard::kEepromDumpSize), part.get());

    kvtcard::Card card;
    std::string error;
    if (!kvtcard::card_from_bytes(std::span(part.get(), kvtcard::kEepromDumpSize), card, error))
        __builtin_trap();
    const cardlib::CardVerdict verdict = kvtcard::card_verdict(card);
    // Refused only by the checksums, the version, or a cut write of the record's own.
    if (verdict.kind == cardlib::CardKind::write_interrupted &&
        verdict.record != cardlib::RecordState::torn)
        __builtin_trap();
    if (cardlib::verdict_reason(verdict).empty())
        __builtin_trap();
    (void)cardlib::verdict_warning(verdict);
    return 0;
}

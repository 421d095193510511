// A card that shows which sections the daemon rewrote. The card and
// kvt_image hold this SP's image with every checksum byte inverted; a
// section that a writer rewrites gets its correct checksum back, so a
// checksum byte that differs from the armed one marks a written section,
// even when the written value equals the old one. A few probe bytes hold
// 0xEE so that a test can see which of several fields in one section changed.
#pragma once

#include <cstddef>
#include <set>
#include <vector>

#include <gtest/gtest.h>

#include "card/sections.hpp"
#include "platform/card_lib.h"
#include "sim/control.hpp"

namespace kvttest {

inline constexpr unsigned char kProbe = 0xEE;

class SectionWrites {
  public:
    explicit SectionWrites(std::vector<std::size_t> probes = {}) : probes_(std::move(probes)) {}

    void arm()
    {
        armed_ = kvtsim::foreign_image(kvtsim::sp_mac());
        for (const kvt::SectionSpan &span : kvt::kSectionMap)
            armed_[span.cksum] ^= 0xFF;
        for (std::size_t offset : probes_)
            armed_[offset] = kProbe;
        ASSERT_EQ(kvtsim::card_insert_image(armed_), 0);
        ASSERT_GE(read_in_KVT(&kvt_image, KVT_IMAGE_SIZE), 0);
    }

    std::set<unsigned> written() const
    {
        const kvtsim::ImageBytes card = kvtsim::card_image().value();
        std::set<unsigned> sections;
        for (unsigned s = 1; s <= kvt::kSectionMap.size(); ++s)
            if (card[kvt::kSectionMap[s - 1].cksum] != armed_[kvt::kSectionMap[s - 1].cksum])
                sections.insert(s);
        return sections;
    }

    std::set<std::size_t> changed_probes() const
    {
        const kvtsim::ImageBytes card = kvtsim::card_image().value();
        std::set<std::size_t> changed;
        for (std::size_t offset : probes_)
            if (card[offset] != kProbe)
                changed.insert(offset);
        return changed;
    }

  private:
    std::vector<std::size_t> probes_;
    kvtsim::ImageBytes armed_{};
};

} // namespace kvttest

#include "engine/firebird/attachment_facts.h"

#include <ibase.h>

#include <string>

namespace tallo::engine::fb {

namespace {

// Collects the lines Firebird writes for each layer of the connection.
class VersionLines final : public Firebird::IVersionCallbackImpl<VersionLines, Firebird::ThrowStatusWrapper> {
  public:
    explicit VersionLines(std::vector<std::string>& lines) : lines_(lines) {}
    void callback(Firebird::ThrowStatusWrapper*, const char* text) override { lines_.emplace_back(text); }

  private:
    std::vector<std::string>& lines_;
};

std::int64_t Integer(const unsigned char* p, unsigned length) {
    return isc_portable_integer(p, static_cast<short>(length));
}

}  // namespace

AttachmentFacts ReadAttachmentFacts(Firebird::ThrowStatusWrapper* status, Firebird::IUtil* util,
                                    Firebird::IAttachment* attachment) {
    AttachmentFacts facts;
    // The count of active transactions is not shown; Firebird reads it in a
    // transaction of its own (no trigger sees it), as it does for isql's
    // SHOW DATABASE, so the transaction numbers go on as under isql.
    const unsigned char items[] = {fb_info_pages_used, fb_info_pages_free, isc_info_active_tran_count,
                                   isc_info_end};
    unsigned char buffer[128] = {};
    attachment->getInfo(status, sizeof items, items, sizeof buffer, buffer);
    for (const unsigned char* p = buffer; p < buffer + sizeof buffer - 3 && *p != isc_info_end;) {
        const unsigned char item = *p++;
        const auto length = static_cast<unsigned>(Integer(p, 2));
        p += 2;
        if (p + length > buffer + sizeof buffer)
            break;
        if (item == fb_info_pages_used)
            facts.pages_used = Integer(p, length);
        if (item == fb_info_pages_free)
            facts.pages_free = Integer(p, length);
        p += length;
    }
    // The client's text ("LI-V6.3.11.33637 Firebird 3.0") carries the
    // InterBase level it answers to; the Firebird release goes in its place.
    char client[256] = {};
    isc_get_client_version(client);
    std::string version = client;
    const std::size_t v = version.find("-V");
    const std::size_t second_dot = v == std::string::npos ? v : version.find('.', version.find('.', v) + 1);
    if (second_dot != std::string::npos) {
        const unsigned release = util->getClientVersion();
        version = version.substr(0, v + 2) + std::to_string(release >> 8) + "." +
                  std::to_string(release & 0xFF) + version.substr(second_dot);
    }
    facts.client_version = version;
    VersionLines lines(facts.server_versions);
    util->getFbVersion(status, attachment, &lines);
    return facts;
}

}  // namespace tallo::engine::fb

#include "Modules.h"

#include <arpa/inet.h>

#include <array>
#include <cctype>
#include <cstdio>

namespace modsim {

namespace {
constexpr std::array<std::string_view, 14> kKeys = {
    "X", "L", "GNM", "GGI", "GDI", "A", "SNM", "SGI", "SDI", "SDH", "E", "?", "query", "*"};
}

const Behaviour* FindBehaviour(const Behaviours& behaviours, const std::string& key) {
    auto it = behaviours.find(key);
    if (it == behaviours.end()) it = behaviours.find("*");
    return it == behaviours.end() ? nullptr : &it->second;
}

std::string Describe(const Behaviour& b) {
    std::string out;
    auto add = [&](const std::string& item) { out += (out.empty() ? "" : ",") + item; };
    if (b.delay.count()) add("delay:" + std::to_string(b.delay.count()));
    if (b.silent) add("silent");
    if (b.deny) add("deny");
    if (b.stray) add("stray:" + Escape(*b.stray));
    if (b.otherPort) add("otherport");
    if (b.oversize) add("oversize:" + std::to_string(b.oversize));
    if (b.late) add("late:" + std::to_string(b.late->count()));
    return out;
}

bool KnownCommandKey(std::string_view key) {
    for (auto k : kKeys)
        if (k == key) return true;
    return false;
}

std::optional<bool> TibboModule::Dhcp() const {
    if (flags.size() < 4) return std::nullopt;
    const char c = static_cast<char>(std::toupper(static_cast<unsigned char>(flags[3])));
    if (c == 'I') return true;
    if (c == 'M') return false;
    return std::nullopt;
}

void TibboModule::SetDhcp(bool on) {
    if (flags.size() < 4) flags.resize(4, '-');
    flags[3] = on ? 'I' : 'M';
}

Modules DefaultModules() {
    Modules m;
    TibboModule vexa;
    vexa.ip = "127.0.0.5";
    m.tibbo.push_back(vexa);

    TibboModule torvane;
    torvane.ip = "127.0.0.6";
    torvane.mac = "0.36.119.87.8.25";
    torvane.flags = "ABCM";
    torvane.rest = "Torvane turnstile 2";
    torvane.destino = "127.0.0.2";
    m.tibbo.push_back(torvane);

    BrivantModule found;
    found.ip = "127.0.0.9";
    m.brivant.push_back(found);

    BrivantModule lines;
    lines.ip = "127.0.0.10";
    lines.name = "Gate 2";
    lines.mac = "00-04-A3-11-22-34";
    lines.form = BrivantForm::Lines;
    m.brivant.push_back(lines);
    return m;
}

Modules BookDemoModules() {
    Modules m;
    TibboModule anexo;
    anexo.ip = "127.0.1.5";
    anexo.mac = "0.36.119.87.9.5";
    anexo.rest = "Vexa anexo 5";
    anexo.gateway = "127.0.1.1";
    anexo.routed = true;
    m.tibbo.push_back(anexo);
    for (const char* mac : {"0.36.119.87.8.27", "0.36.119.87.8.28"}) {
        TibboModule gemeo;
        gemeo.ip = "127.0.0.7";
        gemeo.mac = mac;
        gemeo.flags = "ABCM";
        gemeo.rest = "Torvane turnstile 7";
        m.tibbo.push_back(gemeo);
    }
    return m;
}

std::string DiscoveryReply(const TibboModule& m) {
    if (!m.discovery.empty()) return m.discovery;
    return "A" + m.mac + "/" + m.port + "/" + m.flags + "/" + m.field4 + "/" + m.field5 + "/" +
           m.rest;
}

std::string BrivantReply(const BrivantModule& m) {
    if (!m.reply.empty()) return m.reply;
    switch (m.form) {
        case BrivantForm::Found: {
            const std::string s(1, m.separator);
            return "Found:" + s + m.name + s + m.mac + s;
        }
        case BrivantForm::Lines:
            return m.name + "\r\n" + m.mac + "\r\n";
        case BrivantForm::Bare:
            return "Found:";
    }
    return {};
}

std::string Escape(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (const char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '\\')
            out += "\\\\";
        else if (c == '\r')
            out += "\\r";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\t')
            out += "\\t";
        else if (c >= 0x20 && c < 0x7F)
            out += ch;
        else {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        }
    }
    return out;
}

std::string Unescape(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        if (++i >= text.size()) throw SimError("a lone backslash ends '" + std::string(text) + "'");
        switch (text[i]) {
            case 'r':
                out += '\r';
                break;
            case 'n':
                out += '\n';
                break;
            case 't':
                out += '\t';
                break;
            case '\\':
                out += '\\';
                break;
            case 'x': {
                const std::string hex(text.substr(i + 1, 2));
                if (hex.size() != 2 || !std::isxdigit(static_cast<unsigned char>(hex[0])) ||
                    !std::isxdigit(static_cast<unsigned char>(hex[1])))
                    throw SimError("\\x needs two hex digits in '" + std::string(text) + "'");
                out += static_cast<char>(std::stoi(hex, nullptr, 16));
                i += 2;
                break;
            }
            default:
                throw SimError("unknown escape \\" + std::string(1, text[i]) + " in '" +
                               std::string(text) + "'");
        }
    }
    return out;
}

bool IsLoopbackHost(const std::string& text) {
    in_addr a{};
    if (::inet_pton(AF_INET, text.c_str(), &a) != 1) return false;
    const uint32_t h = ntohl(a.s_addr);
    return (h >> 24) == 127 && h != 0x7F000000u && h != 0x7FFFFFFFu;
}

}  // namespace modsim

#include "ModuleArgs.h"

#include <cstdlib>
#include <initializer_list>
#include <optional>
#include <utility>
#include <string>
#include <vector>

namespace modsim {

namespace {

std::vector<std::string_view> Split(std::string_view text, char by) {
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t at = text.find(by, start);
        parts.push_back(text.substr(start, at == std::string_view::npos ? at : at - start));
        if (at == std::string_view::npos) return parts;
        start = at + 1;
    }
}

// Key/value pairs of a module description, in order.
std::vector<std::pair<std::string, std::string>> Items(std::string_view desc) {
    std::vector<std::pair<std::string, std::string>> items;
    for (auto item : Split(desc, ',')) {
        if (item.empty()) continue;
        const auto eq = item.find('=');
        if (eq == std::string_view::npos || eq == 0)
            throw SimError("'" + std::string(item) + "' is not key=value");
        items.emplace_back(std::string(item.substr(0, eq)), Unescape(item.substr(eq + 1)));
    }
    return items;
}

std::string CheckedIp(const std::string& ip) {
    if (!IsLoopbackHost(ip))
        throw SimError("module address '" + ip + "' is not a loopback address (127.x.y.z)");
    return ip;
}

long Milliseconds(std::string_view what, std::string_view text) {
    const std::string t(text);
    char* end = nullptr;
    const long v = std::strtol(t.c_str(), &end, 10);
    if (t.empty() || *end != '\0' || v < 0 || v > 3'600'000)
        throw SimError(std::string(what) + " takes milliseconds from 0 to 3600000, not '" + t +
                       "'");
    return v;
}

}  // namespace

namespace {

// The keys that set a text field as given.
template <typename Module>
using TextKeys = std::initializer_list<std::pair<std::string_view, std::string Module::*>>;

template <typename Module>
bool SetText(Module& m, TextKeys<Module> keys, const std::string& key, const std::string& value) {
    for (const auto& [name, field] : keys) {
        if (key == name) {
            m.*field = value;
            return true;
        }
    }
    return false;
}

}  // namespace

TibboModule ParseTibbo(std::string_view desc) {
    static const TextKeys<TibboModule> kTextos = {
        {"mac", &TibboModule::mac},         {"port", &TibboModule::port},
        {"flags", &TibboModule::flags},     {"field4", &TibboModule::field4},
        {"field5", &TibboModule::field5},   {"rest", &TibboModule::rest},
        {"netmask", &TibboModule::netmask}, {"gateway", &TibboModule::gateway},
        {"dest", &TibboModule::destino},    {"password", &TibboModule::password},
        {"discovery", &TibboModule::discovery}};
    TibboModule m;
    bool haveIp = false;
    std::optional<bool> dhcp;
    for (auto& [key, value] : Items(desc)) {
        if (key == "ip") {
            m.ip = CheckedIp(value);
            haveIp = true;
        } else if (key == "dhcp") {
            if (value != "1" && value != "0") throw SimError("dhcp takes 1 or 0");
            dhcp = value == "1";
        } else if (key == "routed") {
            if (value != "1" && value != "0") throw SimError("routed takes 1 or 0");
            m.routed = value == "1";
        } else if (!SetText(m, kTextos, key, value)) {
            throw SimError("unknown module key '" + key + "'");
        }
    }
    if (!haveIp) throw SimError("a module needs ip=127.x.y.z");
    if (dhcp) m.SetDhcp(*dhcp);  // after the flags, whatever the order given
    return m;
}

BrivantModule ParseBrivant(std::string_view desc) {
    static const TextKeys<BrivantModule> kTextos = {
        {"name", &BrivantModule::name},
        {"mac", &BrivantModule::mac},
        {"reply", &BrivantModule::reply}};
    BrivantModule m;
    bool haveIp = false;
    for (auto& [key, value] : Items(desc)) {
        if (key == "ip") {
            m.ip = CheckedIp(value);
            haveIp = true;
        } else if (key == "form") {
            if (value == "found")
                m.form = BrivantForm::Found;
            else if (value == "lines")
                m.form = BrivantForm::Lines;
            else if (value == "bare")
                m.form = BrivantForm::Bare;
            else
                throw SimError("form takes found, lines or bare, not '" + value + "'");
        } else if (key == "sep") {
            if (value.size() != 1) throw SimError("sep takes one character");
            m.separator = value[0];
        } else if (!SetText(m, kTextos, key, value)) {
            throw SimError("unknown module key '" + key + "'");
        }
    }
    if (!haveIp) throw SimError("a module needs ip=127.x.y.z");
    return m;
}

Behaviour ParseBehaviour(std::string_view items, std::size_t defaultOversize) {
    Behaviour b;
    for (auto item : Split(items, ',')) {
        if (item.empty()) continue;
        const auto colon = item.find(':');
        const std::string_view name = item.substr(0, colon);
        const bool hasValue = colon != std::string_view::npos;
        const std::string_view value = hasValue ? item.substr(colon + 1) : std::string_view{};
        auto noValue = [&] {
            if (hasValue) throw SimError(std::string(name) + " takes no value");
        };
        if (name == "delay") {
            b.delay = std::chrono::milliseconds(Milliseconds(name, value));
        } else if (name == "silent") {
            noValue();
            b.silent = true;
        } else if (name == "deny") {
            noValue();
            b.deny = true;
        } else if (name == "stray") {
            b.stray = hasValue ? Unescape(value) : std::string("C");
        } else if (name == "otherport") {
            noValue();
            b.otherPort = true;
        } else if (name == "oversize") {
            if (!hasValue) {
                b.oversize = defaultOversize;
            } else {
                const long n = Milliseconds("oversize", value);
                if (n < 1 || n > 65507) throw SimError("oversize takes 1 to 65507 bytes");
                b.oversize = static_cast<std::size_t>(n);
            }
        } else if (name == "late") {
            b.late = std::chrono::milliseconds(Milliseconds(name, value));
        } else {
            throw SimError("unknown behaviour '" + std::string(item) + "'");
        }
    }
    return b;
}

void ApplyBehave(std::string_view desc, Modules& modules) {
    const auto colon = desc.find(':');
    const auto eq = desc.find('=');
    if (colon == std::string_view::npos || eq == std::string_view::npos || eq < colon)
        throw SimError("'" + std::string(desc) + "' is not IP:COMMAND=behaviour");
    const std::string ip(desc.substr(0, colon));
    const std::string key(desc.substr(colon + 1, eq - colon - 1));
    const std::string_view items = desc.substr(eq + 1);
    if (!KnownCommandKey(key)) throw SimError("unknown command '" + key + "'");

    bool found = false;
    if (key != "query") {
        const Behaviour b = ParseBehaviour(items, kTibboOversize);
        for (auto& m : modules.tibbo)
            if (m.ip == ip) m.behaviours[key] = b, found = true;
    }
    if (key == "query" || key == "*") {
        const Behaviour b = ParseBehaviour(items, kBrivantOversize);
        for (auto& m : modules.brivant)
            if (m.ip == ip) m.behaviours[key] = b, found = true;
    }
    if (!found) throw SimError("no module at " + ip + " answers " + key);
}

}  // namespace modsim

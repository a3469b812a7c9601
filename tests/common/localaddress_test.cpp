// The computer's own address as the hosts file gives it: what the resolver's files source
// would answer, found without it.
#include "common/LocalAddress.h"

#include <gtest/gtest.h>

namespace {

TEST(HostsIPv4Address, FindsTheNameAsTheFilesSourceWould) {
    const char* hosts =
        "127.0.0.1\tlocalhost\n"
        "# 10.0.0.9 caixa  (a comment is no entry)\n"
        "::1 caixa ip6-localhost\n"
        "192.168.0.300 caixa\n"
        "10.1.2.3   portaria CAIXA.venue.local caixa   # the office network\n"
        "10.9.9.9 caixa\n";
    struct Caso {
        const char* nome;
        const char* esperado;
    } casos[] = {
        {"caixa", "10.1.2.3"},  // IPv6 and malformed lines skipped, an alias, the first line only
        {"CaIxA", "10.1.2.3"},  // names compare without case
        {"portaria", "10.1.2.3"},
        {"localhost", "127.0.0.1"},
        {"caixa.venue", ""},  // no partial names
        {"caix", ""},
        {"", ""},
    };
    for (const auto& c : casos)
        EXPECT_EQ(common::HostsIPv4Address(hosts, c.nome), c.esperado) << c.nome;
    EXPECT_EQ(common::HostsIPv4Address("10.0.0.1 caixa", "caixa"), "10.0.0.1");  // no final newline
}

}  // namespace

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

namespace {

uint32_t Ip(int a, int b, int c, int d) {
    return uint32_t(a) << 24 | uint32_t(b) << 16 | uint32_t(c) << 8 | uint32_t(d);
}

TEST(ClassifyIPv4, OnlyAnAdaptersOwnOrOtherHostAddressesCountAsUnicast) {
    using common::IPv4Role;
    const std::vector<common::IPv4Adapter> adaptadores = {
        {Ip(10, 77, 0, 1), Ip(255, 255, 255, 0)},
        {Ip(192, 168, 8, 9), Ip(255, 255, 252, 0)},
        {Ip(10, 1, 1, 1), Ip(255, 255, 255, 254)},  // a point-to-point /31
        {Ip(10, 2, 2, 2), Ip(255, 255, 255, 255)},
    };
    const struct {
        uint32_t endereco;
        IPv4Role papel;
        uint32_t rede;
        int prefixo;
    } casos[] = {
        {Ip(10, 77, 0, 1), IPv4Role::Unicast, 0, 0},
        {Ip(10, 77, 0, 254), IPv4Role::Unicast, 0, 0},
        {Ip(10, 77, 0, 255), IPv4Role::DirectedBroadcast, Ip(10, 77, 0, 0), 24},
        {Ip(10, 77, 0, 0), IPv4Role::NetworkAddress, Ip(10, 77, 0, 0), 24},
        {Ip(192, 168, 11, 255), IPv4Role::DirectedBroadcast, Ip(192, 168, 8, 0), 22},
        {Ip(192, 168, 9, 255), IPv4Role::Unicast, 0, 0},  // inside a /22
        {Ip(10, 1, 1, 0), IPv4Role::Unicast, 0, 0},       // a /31 has no such addresses
        {Ip(10, 2, 2, 2), IPv4Role::Unicast, 0, 0},
        {Ip(127, 255, 255, 255), IPv4Role::DirectedBroadcast, Ip(127, 0, 0, 0), 8},
        {Ip(127, 0, 0, 0), IPv4Role::NetworkAddress, Ip(127, 0, 0, 0), 8},
        {Ip(127, 0, 0, 7), IPv4Role::Unicast, 0, 0},
        {Ip(255, 255, 255, 255), IPv4Role::LimitedBroadcast, 0, 0},
        {Ip(224, 0, 0, 1), IPv4Role::Multicast, 0, 0},
        {Ip(239, 255, 255, 250), IPv4Role::Multicast, 0, 0},
        {Ip(240, 0, 0, 1), IPv4Role::Reserved, 0, 0},
        {0, IPv4Role::Unicast, 0, 0},                    // every address
        {Ip(172, 16, 0, 255), IPv4Role::Unicast, 0, 0},  // no adapter's: the bind decides
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(c.endereco);
        const auto achado = common::ClassifyIPv4(c.endereco, adaptadores);
        EXPECT_EQ(achado.role, c.papel);
        EXPECT_EQ(achado.network, c.rede);
        EXPECT_EQ(achado.prefix, c.prefixo);
    }
}

}  // namespace

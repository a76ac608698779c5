// The emulator at the wire: hand-made and damaged requests must close a connection at worst, never the
// server.
#include "tdsemu/emu_server.hpp"
#include "tdsemu/tds_buffer.hpp"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace {

class raw_client {
public:
    explicit raw_client(uint16_t port) {
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(port);
        inet_pton(AF_INET, "127.0.0.1", &addr.sin_addr);
        if (::connect(m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
            throw std::runtime_error("connect");
    }
    ~raw_client() { ::close(m_fd); }
    raw_client(const raw_client&) = delete;
    raw_client& operator=(const raw_client&) = delete;

    void send(unsigned type, const std::string& payload) {
        std::string p;
        size_t length = payload.size() + 8;
        p += static_cast<char>(type);
        p += '\x01';
        p += static_cast<char>(length >> 8);
        p += static_cast<char>(length & 0xFF);
        p += std::string(4, '\0');
        p += payload;
        ::send(m_fd, p.data(), p.size(), MSG_NOSIGNAL);
    }
    // The tokens of one reply message; "closed" when the server ended the connection; "timeout" when it
    // hangs.
    std::string reply(std::string& tokens) {
        tokens.clear();
        for (;;) {
            unsigned char h[8];
            if (!read(h, 8)) return "closed";
            size_t length = (static_cast<size_t>(h[2]) << 8) | h[3];
            if (length < 8) return "bad";
            std::string body(length - 8, '\0');
            if (!read(body.data(), body.size())) return "closed";
            tokens += body;
            if (h[1] & 1) return "ok";
        }
    }

private:
    bool read(void* p, size_t n) {
        char* c = static_cast<char*>(p);
        while (n) {
            pollfd pf{m_fd, POLLIN, 0};
            if (::poll(&pf, 1, 10000) <= 0) throw std::runtime_error("timeout");
            ssize_t got = ::recv(m_fd, c, n, 0);
            if (got <= 0) return false;
            c += got;
            n -= static_cast<size_t>(got);
        }
        return true;
    }
    int m_fd = -1;
};

std::string login7(const std::string& user, const std::string& password, const std::string& database) {
    std::string host = tdsemu::utf16le_bytes("fuzz"), u = tdsemu::utf16le_bytes(user),
                db = tdsemu::utf16le_bytes(database);
    std::string pw = tdsemu::utf16le_bytes(password);
    for (char& ch : pw) {
        unsigned c = static_cast<unsigned char>(ch);
        ch = static_cast<char>((((c << 4) | (c >> 4)) & 0xFF) ^ 0xA5);
    }
    tdsemu::tds_buffer b;
    std::string data;
    auto field = [&](const std::string& s) {
        b.u16(static_cast<unsigned>(94 + data.size()));
        b.u16(static_cast<unsigned>(s.size() / 2));
        data += s;
    };
    b.u32(0);
    b.u32(0x74000004);
    b.u32(4096);
    b.u32(0);
    b.u32(0);
    b.u32(0);
    b.u8(0xE0);
    b.u8(0x03);
    b.u8(0);
    b.u8(0x18);
    b.u32(0);
    b.u32(0x409);
    for (const std::string* s : {&host, &u, &pw, &host, &host}) field(*s);
    b.u16(0);
    b.u16(0); // extension
    field(std::string());
    field(std::string());
    field(db);
    b.raw(std::string(6, '\0'));
    b.u16(0);
    b.u16(0); // SSPI
    b.u16(0);
    b.u16(0);
    b.u16(0);
    b.u16(0);
    b.u32(0);
    std::string out = b.bytes + data;
    uint32_t total = static_cast<uint32_t>(out.size());
    for (int k = 0; k < 4; ++k) out[k] = static_cast<char>((total >> (8 * k)) & 0xFF);
    return out;
}

std::string all_headers() {
    tdsemu::tds_buffer b;
    b.u32(22);
    b.u32(18);
    b.u16(2);
    b.u64(0);
    b.u32(1);
    return b.bytes;
}

std::string batch(const std::string& sql) {
    return all_headers() + tdsemu::utf16le_bytes(sql);
}

// RPC parameters as clients send them.
std::string nvarchar_param(const std::string& name, const std::string& value) {
    tdsemu::tds_buffer b;
    b.b_varchar(name);
    b.u8(0);
    b.u8(0xE7);
    std::string v = tdsemu::utf16le_bytes(value);
    b.u16(static_cast<unsigned>(std::max<size_t>(v.size(), 2)));
    b.raw(std::string("\x09\x04\xD0\x00\x34", 5));
    b.u16(static_cast<unsigned>(v.size()));
    b.raw(v);
    return b.bytes;
}

std::string int_param(const std::string& name, int32_t value) {
    tdsemu::tds_buffer b;
    b.b_varchar(name);
    b.u8(0);
    b.u8(0x26);
    b.u8(4);
    b.u8(4);
    b.u32(static_cast<uint32_t>(value));
    return b.bytes;
}

std::string named_rpc(const std::string& name, const std::string& params) {
    tdsemu::tds_buffer b;
    b.raw(all_headers());
    b.us_varchar(name);
    b.u16(0);
    return b.bytes + params;
}

const char* const seed =
    "CREATE DATABASE D; USE D; CREATE TABLE t (a int, b nvarchar(10)); INSERT INTO t VALUES (1, N'x');";

} // namespace

TEST(emulator_wire, logs_in_and_answers_a_hand_made_batch) {
    tdsemu::emu_options o;
    o.seed_text = seed;
    tdsemu::emu_server server(o);
    raw_client c(server.port());
    std::string tokens;
    c.send(0x10, login7("sa", "Tabloxa-1", "D"));
    ASSERT_EQ(c.reply(tokens), "ok");
    EXPECT_NE(tokens.find('\xAD'), std::string::npos); // LOGINACK
    c.send(0x01, batch("SELECT a, b FROM t"));
    ASSERT_EQ(c.reply(tokens), "ok");
    EXPECT_EQ(static_cast<unsigned char>(tokens[0]), 0x81u);                  // COLMETADATA
    EXPECT_EQ(static_cast<unsigned char>(tokens[tokens.size() - 13]), 0xFDu); // ends with DONE
    // An attention while idle is acknowledged with DONE and the attention flag.
    c.send(0x06, "");
    ASSERT_EQ(c.reply(tokens), "ok");
    ASSERT_EQ(tokens.size(), 13u);
    EXPECT_EQ(static_cast<unsigned char>(tokens[1]), 0x20u);
    c.send(0x10, login7("sa", "wrong", "D"));
    EXPECT_EQ(c.reply(tokens), "closed"); // a second login is a protocol fault
}

TEST(emulator_wire, survives_damaged_requests) {
    tdsemu::emu_options o;
    o.seed_text = seed;
    tdsemu::emu_server server(o);
    std::mt19937 rng(20261207);
    const unsigned types[] = {0x01, 0x03, 0x06, 0x0E, 0x10, 0x12, 0x07, 0xFF};
    const std::string base_rpc = all_headers() + std::string("\xFF\xFF\x0A\x00\x00\x00", 6);
    const std::string named_rpc = all_headers() + std::string("\x09\x00", 2) +
                                  tdsemu::utf16le_bytes("sp_tables") + std::string("\x00\x00", 2);
    int closed = 0, answered = 0;
    // TDSEMU_FUZZ_ROUNDS makes a longer run by hand.
    const int rounds = std::getenv("TDSEMU_FUZZ_ROUNDS") ? std::atoi(std::getenv("TDSEMU_FUZZ_ROUNDS")) : 40;
    for (int round = 0; round < rounds; ++round) {
        raw_client c(server.port());
        std::string tokens;
        c.send(0x10, login7("sa", "Tabloxa-1", "D"));
        ASSERT_EQ(c.reply(tokens), "ok");
        for (int k = 0; k < 10; ++k) {
            unsigned type = types[rng() % 8];
            std::string payload;
            if (type == 0x03) payload = rng() % 2 ? base_rpc : named_rpc;
            if (type == 0x01) payload = all_headers();
            size_t extra = rng() % 120;
            for (size_t b = 0; b < extra; ++b) payload += static_cast<char>(rng() % 256);
            if (type == 0x03 && rng() % 3 == 0) // a parameter header with a random type
                payload = named_rpc + std::string("\x02\x40\x00\x61\x00\x00", 6) +
                          static_cast<char>(rng() % 256) +
                          payload.substr(std::min(payload.size(), named_rpc.size()));
            c.send(type, payload);
            std::string state = c.reply(tokens);
            if (state == "closed") {
                ++closed;
                break;
            }
            ASSERT_EQ(state, "ok");
            ++answered;
        }
    }
    EXPECT_GT(closed, 0);
    EXPECT_GT(answered, 0);
    raw_client c(server.port());
    std::string tokens;
    c.send(0x10, login7("sa", "Tabloxa-1", "D"));
    ASSERT_EQ(c.reply(tokens), "ok");
    c.send(0x01, batch("SELECT COUNT(*) FROM t"));
    EXPECT_EQ(c.reply(tokens), "ok");
}

// Valid requests with a few bytes changed or cut off reach deeper into the parsers than random bytes.
TEST(emulator_wire, survives_mutated_requests) {
    tdsemu::emu_options o;
    o.seed_text = seed;
    tdsemu::emu_server server(o);
    const std::vector<std::pair<unsigned, std::string>> templates = {
        {0x01, batch("SELECT a, b FROM t WHERE b = N'x'; exec sp_tables @table_owner='dbo', "
                     "@table_type=\"'TABLE'\"")},
        {0x03, named_rpc("sp_columns", nvarchar_param("@table_name", "t") +
                                           nvarchar_param("@table_owner", "dbo") + int_param("@ODBCVer", 3))},
        {0x03,
         named_rpc("sp_statistics", nvarchar_param("@table_name", "t") + nvarchar_param("@is_unique", "N"))},
        {0x03, all_headers() + std::string("\xFF\xFF\x0A\x00\x00\x00", 6) +
                   nvarchar_param("", "SELECT @P1, a FROM t") + nvarchar_param("", "@P1 int") +
                   int_param("", 7)},
        {0x10, login7("sa", "Tabloxa-1", "D")},
    };
    std::mt19937 rng(7);
    const int rounds = std::getenv("TDSEMU_FUZZ_ROUNDS") ? std::atoi(std::getenv("TDSEMU_FUZZ_ROUNDS")) : 150;
    int answered = 0;
    for (int round = 0; round < rounds; ++round) {
        raw_client c(server.port());
        std::string tokens;
        c.send(0x10, login7("sa", "Tabloxa-1", "D"));
        ASSERT_EQ(c.reply(tokens), "ok");
        const auto& [type, original] = templates[rng() % templates.size()];
        std::string payload = original;
        int changes = 1 + static_cast<int>(rng() % 4);
        for (int k = 0; k < changes; ++k) payload[rng() % payload.size()] = static_cast<char>(rng() % 256);
        if (rng() % 4 == 0) payload.resize(rng() % payload.size());
        c.send(type, payload);
        std::string state = c.reply(tokens);
        if (state == "ok")
            ++answered;
        else
            ASSERT_EQ(state, "closed");
    }
    EXPECT_GT(answered, 0);
    raw_client c(server.port());
    std::string tokens;
    c.send(0x10, login7("sa", "Tabloxa-1", "D"));
    ASSERT_EQ(c.reply(tokens), "ok");
    c.send(0x01, batch("SELECT COUNT(*) FROM t"));
    EXPECT_EQ(c.reply(tokens), "ok");
}

// Printer discovery rules of the port API stand-in, free of any Windows header: the SNMPv1
// request and answer codec, the loopback guard and the planner that turns a target list
// into destinations.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace corvane {

using Bytes = std::vector<uint8_t>;

// ---- codec ----

// A GetRequest for sysName.0 and sysDescr.0 with NULL values.
Bytes EncodeGetRequest(int32_t id, const std::string &community);

struct Answer {
    int32_t id = 0;
    bool hasName = false;
    std::string sysName;
    bool hasDescr = false;
    std::string sysDescr;
};

// Reads a GetResponse: version 0, the community, tag 0xA2, error-status 0, each binding an
// OID with an OCTET STRING. Never reads past size; false for anything else.
bool DecodeAnswer(const uint8_t *data, std::size_t size, const std::string &community, Answer &out);

// sysName.0, else the first line of sysDescr.0, else the address; cut at CR, LF, NUL and
// 255 bytes, control bytes turned into blanks.
std::string PrinterName(const Answer &answer, const std::string &address);

// ---- addresses ----

// Host-order IPv4 address from "a.b.c.d" (four decimal octets, nothing else).
bool ParseIPv4(const std::string &text, uint32_t &out);
std::string FormatIPv4(uint32_t address);

// The one rule every datagram passes: 127.0.0.0/8 with a last octet other than 0 and 255.
bool MaySendTo(uint32_t address);

// ---- planner ----

struct Destination {
    uint32_t address = 0; // host order
    uint16_t port = 0;
    bool sweep = false;
};

struct Plan {
    std::vector<Destination> unicast; // one per target, in order
    bool sweep = false;               // a broadcast target asked for the sweep
    std::vector<Destination> sweepTo; // the sweep's destinations, when asked
    std::vector<std::string> skipped; // "<target>: <reason>", for the log
};

// Parses the sweep list: comma-separated "127.a.b.c[-127.a.b.d][:port]". False (with why)
// for an entry outside 127.0.0.0/8, a reversed range, one over 254 addresses or a bad text.
// Addresses the guard refuses (last octet 0 or 255) are left out and named in refused.
bool ParseSweep(const std::string &spec, uint16_t defaultPort, std::vector<Destination> &out,
                std::vector<std::string> &refused, std::string &why);

// Plans one search of a multi-sz target list (bounded by limit bytes). A broadcast target
// (255.255.255.255 or a.b.c.255) stands for the sweep; other targets outside loopback and
// texts that are not "a.b.c.d[:port]" are skipped. False (with why) when the sweep list is
// bad: nothing is to be sent then.
bool PlanSearch(const char *targets, std::size_t limit, const std::string &sweepSpec,
                uint16_t defaultPort, Plan &plan, std::string &why);

constexpr const char *kDefaultSweep = "127.0.0.1-127.0.0.254";
constexpr std::size_t kMaxSweepEntry = 254;

} // namespace corvane

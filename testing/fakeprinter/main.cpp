// fakeprinter.exe: serves the fake printer on 127.0.0.1 until it is stopped or reads
// "quit" on its input. Prints "port <n>" first; with --snmp-port, an SNMPv1 agent on the
// same address answers sysName.0 "Fake Printer" and prints "snmp <n>" second.
//   fakeprinter.exe [--address A] [--port N] [--snmp-port N] [--setup FILE] [--log FILE]
#include "snmp_agent.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "server.h"

int main(int argc, char **argv) {
    std::string address = "127.0.0.1", setupPath, logPath;
    unsigned long port = 0, snmpPort = 0;
    bool snmp = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (i + 1 >= argc) {
            std::fprintf(stderr, "fakeprinter: %s needs a value\n", arg.c_str());
            return 2;
        }
        std::string value = argv[++i];
        if (arg == "--address") {
            address = value;
        } else if (arg == "--port") {
            char *end = nullptr;
            port = std::strtoul(value.c_str(), &end, 10);
            if (*end || port > 65535) {
                std::fprintf(stderr, "fakeprinter: bad port %s\n", value.c_str());
                return 2;
            }
        } else if (arg == "--snmp-port") {
            char *end = nullptr;
            snmpPort = std::strtoul(value.c_str(), &end, 10);
            if (*end || snmpPort > 65535) {
                std::fprintf(stderr, "fakeprinter: bad SNMP port %s\n", value.c_str());
                return 2;
            }
            snmp = true;
        } else if (arg == "--setup") {
            setupPath = value;
        } else if (arg == "--log") {
            logPath = value;
        } else {
            std::fprintf(stderr, "fakeprinter: unknown option %s\n", arg.c_str());
            return 2;
        }
    }

    fakeprinter::Setup setup = fakeprinter::Setup::Default();
    if (!setupPath.empty()) {
        std::ifstream in(setupPath, std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "fakeprinter: cannot read %s\n", setupPath.c_str());
            return 2;
        }
        std::stringstream text;
        text << in.rdbuf();
        std::string error;
        if (!fakeprinter::ParseSetup(text.str(), setup, error)) {
            std::fprintf(stderr, "fakeprinter: %s: %s\n", setupPath.c_str(), error.c_str());
            return 2;
        }
    }

    fakeprinter::Server server(setup);
    if (!logPath.empty())
        server.SetLog(logPath);
    if (!server.Start(address, static_cast<unsigned short>(port))) {
        std::fprintf(stderr, "fakeprinter: %s\n", server.error().c_str());
        return 1;
    }
    std::printf("port %u\n", server.Port());
    std::fflush(stdout);
    std::unique_ptr<snmpagent::Agent> agent;
    if (snmp) {
        agent = std::make_unique<snmpagent::Agent>(
            snmpagent::SystemAnswers("Fake Printer", "Fake PJL printer\r\nloopback only"),
            static_cast<uint16_t>(snmpPort), address.c_str());
        if (!agent->Ok()) {
            std::fprintf(stderr, "fakeprinter: SNMP agent on %s:%lu: error %d\n", address.c_str(),
                         snmpPort, agent->BindError());
            return 1;
        }
        std::printf("snmp %u\n", agent->Port());
        std::fflush(stdout);
    }

    // Until "quit" arrives; with no input (EOF) it serves until it is stopped.
    char line[256];
    while (std::fgets(line, sizeof line, stdin)) {
        if (std::string(line).rfind("quit", 0) == 0)
            return 0;
    }
    for (;;)
        Sleep(1000);
}

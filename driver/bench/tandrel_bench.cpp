// Port accesses per byte of every forward mode: one write of 16,384 bytes through the I/O
// manager on the simulated kernel, the peripheral answering at once. Prints reads, writes and
// accesses per byte for the whole request (allocation to completion, negotiation, termination
// and polls included) and in steady state, the mode's handshake minimum, their ratio and
// virtual time per byte. --check fails on a decoded stream that differs from the payload or a
// ratio above 1.1.
#include "par_ext.h"

#include "sim.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

extern "C" NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath);

namespace {

const wchar_t kService[] = L"\\Registry\\Machine\\System\\CurrentControlSet\\Services\\tandrel";
using Bytes = std::vector<UCHAR>;
constexpr ULONG kBytes = 16384;
constexpr ULONG kCompatCode = 0x1620C4; // the compatibility write control code
constexpr double kBar = 1.1;

Bytes Distinct(size_t n) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i)
        b[i] = static_cast<UCHAR>(i * 7 + i / 36 + 1);
    for (size_t i = 1; i < n; ++i)
        if (b[i] == b[i - 1])
            b[i] ^= 0x40;
    return b;
}

Bytes Runs(size_t n) {
    Bytes b;
    UCHAR v = 3;
    for (size_t run = 1; b.size() < n; run = run % 8 + 1, v = static_cast<UCHAR>(v * 5 + 1))
        for (size_t i = 0; i < run && b.size() < n; ++i)
            b.push_back(v);
    return b;
}

struct Measure {
    bool ok = false;
    std::string why;
    SimAccessCounts counts{};
    LONGLONG ps = 0;
};

struct Machine {
    PFILE_OBJECT file = nullptr;
    ParDeviceExtension *ext = nullptr;

    bool Start() {
        SimReset();
        SimWatchLoopCounter(&MceTmp);
        SimSetCosts(1000000, 100000, 1000000);
        SimRegCreateKey(kService);
        SimPortConfig c;
        SimDefaultPort(&c);
        c.stackSize = 2;
        c.strict = TRUE;
        c.fifoDepth = 16; // the probe finds 15
        SimAddPort(&c);
        SimPeripheralConfig per{};
        per.enabled = TRUE;
        SimSetPeripheral(0, &per);
        UNICODE_STRING path;
        path.Buffer = const_cast<PWSTR>(kService);
        path.Length = static_cast<USHORT>(wcslen(kService) * 2);
        path.MaximumLength = path.Length + 2;
        if (DriverEntry(SimDriverObject(), &path) != STATUS_SUCCESS)
            return false;
        SimRunUntilIdle();
        ext =
            static_cast<ParDeviceExtension *>(SimFindDevice(L"\\Device\\pellin0")->DeviceExtension);
        ext->BlockSize = 512;
        return SimOpen(L"\\DosDevices\\pellin1", 0, &file) == STATUS_SUCCESS;
    }

    void Stop() {
        SimCleanup(file);
        SimCloseFile(file);
        SimRunUntilIdle();
        SimDriverObject()->DriverUnload(SimDriverObject());
    }

    NTSTATUS Issue(UCHAR major, ULONG code, const Bytes &in, ULONG_PTR *info) {
        ULONG id =
            SimIssue(nullptr, file, major, code, in.data(), static_cast<ULONG>(in.size()), 0, 0);
        SimWaitIo(id);
        SimIoResult r;
        SimIoResultOf(id, &r);
        *info = r.information;
        return r.done ? r.status : STATUS_PENDING;
    }

    // One measured write of payload in mode (kCompatCode: through the control code).
    Measure Run(ULONG mode, const Bytes &payload) {
        Measure m;
        ULONG_PTR info = 0;
        // Initialises the printer first, in compatibility mode.
        if (Issue(IRP_MJ_WRITE, 0, Bytes{0x55}, &info) != STATUS_SUCCESS) {
            m.why = "warm-up write failed";
            return m;
        }
        const ULONG set = mode == kCompatCode ? 2 : mode;
        Bytes modeIn(4);
        std::memcpy(modeIn.data(), &set, 4);
        if (Issue(IRP_MJ_DEVICE_CONTROL, 0x162088, modeIn, &info) != STATUS_SUCCESS) {
            m.why = "mode refused";
            return m;
        }
        SimPeripheralConfig per{};
        per.enabled = TRUE;
        SimSetPeripheral(0, &per); // its record starts again
        SimPortAccesses(0, &m.counts, TRUE);
        const LONGLONG start = SimNowPs();
        const NTSTATUS status = mode == kCompatCode
                                    ? Issue(IRP_MJ_DEVICE_CONTROL, kCompatCode, payload, &info)
                                    : Issue(IRP_MJ_WRITE, 0, payload, &info);
        m.ps = SimNowPs() - start;
        SimPortAccesses(0, &m.counts, FALSE);
        if (status != STATUS_SUCCESS || info != payload.size()) {
            char text[80];
            std::snprintf(text, sizeof text, "status 0x%08lX, %lu bytes",
                          static_cast<unsigned long>(status), static_cast<unsigned long>(info));
            m.why = text;
            return m;
        }
        Bytes want = payload;
        if (mode == 8)
            want.insert(want.end(), {0xAA, 0xAA}); // padding after an even count
        Bytes got(SimPeripheralStream(0, SimStreamData, nullptr, 0));
        SimPeripheralStream(0, SimStreamData, got.data(), static_cast<ULONG>(got.size()));
        if (got != want) {
            m.why = "decoded stream differs";
            return m;
        }
        char first[128];
        if (SimTimingViolations(0, first, sizeof first) != 0) {
            m.why = std::string("timing: ") + first;
            return m;
        }
        if (SimViolationCount() != 0) {
            m.why = std::string("kernel: ") + SimViolationAt(0);
            return m;
        }
        m.ok = true;
        return m;
    }
};

Measure Once(ULONG mode, const Bytes &payload) {
    Machine machine;
    if (!machine.Start()) {
        Measure m;
        m.why = "driver did not start";
        return m;
    }
    Measure m = machine.Run(mode, payload);
    machine.Stop();
    return m;
}

ULONG Reads(const SimAccessCounts &c) {
    ULONG n = 0;
    for (ULONG v : c.reads)
        n += v;
    return n;
}

ULONG Writes(const SimAccessCounts &c) {
    ULONG n = 0;
    for (ULONG v : c.writes)
        n += v;
    return n;
}

} // namespace

int main(int argc, char **argv) {
    bool check = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--check") == 0) {
            check = true;
        } else {
            std::fprintf(stderr, "usage: tandrel_bench [--check]\n");
            return 2;
        }
    }
    struct Row {
        const char *name;
        ULONG mode;
        bool runs;
        double minimum; // accesses per byte the handshake needs
    } rows[] = {
        {"compatibility (2)", 2, false, 4},
        {"burst (1)", 1, false, 2},
        {"block AB (5)", 5, false, 2},
        {"block AC (6)", 6, false, 3},
        {"double-edge (0)", 0, false, 1},
        {"double-edge (0) runs", 0, true, 1},
        {"double-edge (32)", 32, false, 1},
        {"double-edge (32) runs", 32, true, 1},
        {"PX double-edge (68)", 68, false, 1},
        {"PX double-edge (68) runs", 68, true, 1},
        {"ECP (3)", 3, false, 1},
        {"Mce burst (8)", 8, false, 2},
        {"0x1620C4", kCompatCode, false, 4},
    };
    std::printf("%-26s %8s %8s %9s %9s %7s %6s %10s\n", "mode", "reads", "writes", "acc/byte",
                "steady", "minimum", "ratio", "ns/byte");
    int failures = 0;
    for (const Row &row : rows) {
        const Bytes full = row.runs ? Runs(kBytes) : Distinct(kBytes);
        const Bytes half(full.begin(), full.begin() + kBytes / 2);
        const Measure whole = Once(row.mode, full);
        const Measure part = Once(row.mode, half);
        if (!whole.ok || !part.ok) {
            std::printf("%-26s FAILED: %s\n", row.name, (whole.ok ? part : whole).why.c_str());
            ++failures;
            continue;
        }
        const double perByte = static_cast<double>(whole.counts.total) / kBytes;
        const double steady =
            static_cast<double>(whole.counts.total - part.counts.total) / (kBytes / 2);
        const double ratio = perByte / row.minimum;
        std::printf("%-26s %8lu %8lu %9.3f %9.3f %7.0f %6.3f %10.1f\n", row.name,
                    static_cast<unsigned long>(Reads(whole.counts)),
                    static_cast<unsigned long>(Writes(whole.counts)), perByte, steady, row.minimum,
                    ratio, static_cast<double>(whole.ps) / 1000.0 / kBytes);
        if (ratio > kBar) {
            std::printf("%-26s above %.1f x its minimum\n", row.name, kBar);
            ++failures;
        }
    }
    if (check && failures != 0) {
        std::printf("%d mode(s) failed\n", failures);
        return 1;
    }
    return 0;
}

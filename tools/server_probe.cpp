#include "tools/server_probe.h"

#include <cctype>
#include <chrono>
#include <cstdio>
#include <vector>

#include "tools/probe.h"
#include "tools/probe_frame.h"
#include "tools/report_line.h"
#include "tools/server_client.h"
#include "tools/server_devices.h"
#include "tools/table_row.h"
#include "tools/token_file.h"

namespace {

// The device list's columns' widths, the space before the next column included: #, state,
// usable, serial number, product ID, version. The description comes last and is not padded.
constexpr std::size_t WIDTHS[] = {3, 7, 8, 18, 12, 12};
constexpr std::size_t WIDTH_COUNT = sizeof WIDTHS / sizeof WIDTHS[0];

constexpr std::size_t SPEECH_BYTES_PER_FRAME = 320;

// Why the server, rather than a device, failed; each with the likely cause and the fix that the
// Java client gives for the same failure.
enum class ServerTrouble {
    Unreachable,  // or the connection broke
    NotTrusted,
    Unauthorised,
    Draining,
    NoDeviceList,  // the answer to GET /v1/devices is no device list
};

struct TroubleText {
    const char* cause;
    const char* fix;
};

TroubleText troubleText(ServerTrouble trouble) {
    switch (trouble) {
        case ServerTrouble::Unreachable:
            return {
                "usb3k-server is not running there, the address or port is wrong, or a "
                "firewall is in the way",
                "check the address and port, and that usb3k-server runs there (systemctl "
                "status usb3k-server)"};
        case ServerTrouble::NotTrusted:
            return {
                "its certificate is not signed by an authority this machine trusts, or does "
                "not name the address used",
                "add the server's certificate authority to the system's trust store, or name "
                "it with --ca-file"};
        case ServerTrouble::Unauthorised:
            return {"the token is wrong, or was removed from the server's token file",
                    "use a token from the server's token file (its administrator adds a line "
                    "name:token and runs systemctl reload usb3k-server)"};
        case ServerTrouble::Draining:
            return {"the server is stopping or restarting", "probe again shortly"};
        case ServerTrouble::NoDeviceList:
            break;
    }
    return {"it is not usb3k-server, or one of another version",
            "check the address and port of the server"};
}

// The failure's line, its likely cause and its fix, each indented by `indent`.
void reportTrouble(std::ostream& out, const std::string& indent, const std::string& line,
                   ServerTrouble trouble) {
    const TroubleText text = troubleText(trouble);
    reportLine(out, indent + line);
    reportLine(out, indent + "likely cause: " + text.cause);
    reportLine(out, indent + "to fix: " + text.fix);
}

// The status of an answer and the first line of its text: "503 server draining".
std::string statusText(const ServerAnswer& answer) {
    const std::string line = answer.body.substr(0, answer.body.find_first_of("\r\n"));
    return std::to_string(answer.status) + (line.empty() ? "" : " " + line);
}

// Writes the failure of an exchange that got no usable answer, or a refusal that is the server's
// (the token refused, a drain); false when there is none.
bool reportServerFailure(std::ostream& out, const std::string& indent, const ServerProbe& probe,
                         const ServerAnswer& answer) {
    const std::string& server = probe.uri.text;
    switch (answer.outcome) {
        case ServerAnswer::Outcome::Unreachable:
            reportTrouble(out, indent, server + " could not be reached: " + answer.error,
                          ServerTrouble::Unreachable);
            return true;
        case ServerAnswer::Outcome::NotTrusted:
            reportTrouble(out, indent, server + " could not be trusted: " + answer.error,
                          ServerTrouble::NotTrusted);
            return true;
        case ServerAnswer::Outcome::Failed:
            reportTrouble(out, indent, "the connection to " + server + " failed: " + answer.error,
                          ServerTrouble::Unreachable);
            return true;
        case ServerAnswer::Outcome::BadCaFile:
        case ServerAnswer::Outcome::Answered:
            break;
    }
    if (answer.status == 401) {
        reportTrouble(out, indent, server + " refused the token (401)",
                      ServerTrouble::Unauthorised);
        return true;
    }
    if (statusText(answer) == "503 server draining") {
        reportTrouble(out, indent, server + " is draining", ServerTrouble::Draining);
        return true;
    }
    return false;
}

// A --ca-file that could not be loaded is a usage error.
int reportBadCaFile(std::ostream& out, const ServerAnswer& answer) {
    reportLine(out, "usb3k-probe: --ca-file: " + answer.error);
    return PROBE_USAGE;
}

// A query value with every byte but letters, digits and -._~ %-escaped.
std::string escaped(const std::string& value) {
    std::string text;
    for (unsigned char c : value) {
        if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
            text += static_cast<char>(c);
        } else {
            char escape[4];
            std::snprintf(escape, sizeof escape, "%%%02X", c);
            text += escape;
        }
    }
    return text;
}

void writeDeviceTable(const std::vector<ServerDevice>& devices, std::ostream& out) {
    if (devices.empty()) {
        reportLine(out, "USB-3000s: none");
        return;
    }
    reportLine(out, "USB-3000s: " + std::to_string(devices.size()));
    reportLine(out,
               tableRow({"#", "state", "usable", "serial", "product ID", "version", "description"},
                        WIDTHS, WIDTH_COUNT));
    for (std::size_t i = 0; i < devices.size(); ++i) {
        const ServerDevice& device = devices[i];
        reportLine(out, tableRow({std::to_string(i), device.state, device.usable ? "yes" : "no",
                                  device.serialNumber, device.productId, device.version,
                                  device.description},
                                 WIDTHS, WIDTH_COUNT));
        if (!device.usable && !device.reason.empty()) {
            reportLine(out, "     not usable: " + device.reason);
        }
    }
}

// "262.114 ms, 76 frames/s"
std::string timingText(double milliseconds, unsigned frames) {
    char text[64];
    std::snprintf(text, sizeof text, "%.3f ms, %lld frames/s", milliseconds,
                  milliseconds > 0 ? static_cast<long long>(frames * 1000.0 / milliseconds) : 0LL);
    return text;
}

// Decodes probe.frames frames in one request and writes its section.
int timeDecode(const ServerProbe& probe, std::ostream& out) {
    ServerRequest request;
    request.post = true;
    request.target = "v1/decode?format=pcm";
    if (!probe.serialNumber.empty()) {
        request.target += "&device=" + escaped(probe.serialNumber);
    }
    for (unsigned i = 0; i < probe.frames; ++i) {
        request.body.append(PROBE_FRAME, PROBE_FRAME + sizeof PROBE_FRAME);
    }
    const std::size_t expected = probe.frames * SPEECH_BYTES_PER_FRAME;
    request.maxAnswerBytes = expected + 64 * 1024;
    reportLine(out, "decode: POST " + probe.uri.basePath + request.target + ", " +
                        std::to_string(probe.frames) + " frames");

    const auto start = std::chrono::steady_clock::now();
    const ServerAnswer answer = askServer(probe.uri, probe.token, probe.caFile, request);
    const double milliseconds =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    if (answer.outcome == ServerAnswer::Outcome::BadCaFile) {
        return reportBadCaFile(out, answer);
    }
    if (reportServerFailure(out, "  ", probe, answer)) {
        reportLine(out, "  result: failed");
        return PROBE_SERVER_FAILED;
    }
    if (answer.status != 200) {
        reportLine(out, "  answer: " + statusText(answer));
        reportLine(out, "  result: failed");
        return answer.status == 404 ? PROBE_NO_USB3000 : PROBE_DEVICE_FAILED;
    }
    const bool whole = answer.body.size() == expected && !answer.cutShort;
    // The server answers a frame its device failed twice with silence, and counts it: for the
    // probe that frame failed.
    const bool counted = !answer.framesConcealed.empty();
    const bool noneConcealed = answer.framesConcealed == "0";
    const std::string size =
        std::to_string(answer.body.size()) + " bytes of speech" +
        (answer.body.size() == expected ? "" : ", not " + std::to_string(expected));
    if (answer.cutShort) {
        reportLine(out, "  answer: 200, " + size + ", cut short");
        reportLine(out,
                   "  error: the server closed the connection before the answer's end: the device "
                   "was unplugged or stopped answering, the server drained, or the token was "
                   "revoked (the server's log says which)");
    } else {
        reportLine(out, "  answer: 200, " + size +
                            (counted ? ", " + answer.framesConcealed + " of " +
                                           std::to_string(probe.frames) + " frames concealed"
                                     : ", no Usb3k-Frames-Concealed trailer"));
    }
    const bool fine = whole && noneConcealed;
    if (fine) {
        reportLine(out, "  time: " + timingText(milliseconds, probe.frames));
    }
    reportLine(out, fine ? "  result: ok" : "  result: failed");
    return fine ? PROBE_OK : PROBE_DEVICE_FAILED;
}

}  // namespace

bool prepareServerProbe(const ProbeOptions& options, ServerProbe& probe, std::string& error) {
    if (!parseServerUri(options.server, probe.uri, error)) {
        return false;
    }
    if (!readTokenFile(options.tokenFile, probe.token, error)) {
        return false;
    }
    probe.caFile = options.caFile;
    probe.serialNumber = options.serialNumber;
    probe.frames = options.frames;
    return true;
}

int probeServer(const ServerProbe& probe, std::ostream& out) {
    reportLine(out, "server: " + probe.uri.text);
    reportLine(out, "");
    ServerRequest request;
    request.target = "v1/devices";
    const ServerAnswer answer = askServer(probe.uri, probe.token, probe.caFile, request);
    if (answer.outcome == ServerAnswer::Outcome::BadCaFile) {
        return reportBadCaFile(out, answer);
    }
    if (reportServerFailure(out, "", probe, answer)) {
        return PROBE_SERVER_FAILED;
    }
    std::vector<ServerDevice> devices;
    std::string error;
    if (answer.status != 200) {
        // The server's text says what is wrong.
        reportLine(out, probe.uri.text + " answered GET " + probe.uri.basePath + request.target +
                            " with " + statusText(answer));
        return PROBE_SERVER_FAILED;
    }
    if (!parseServerDevices(answer.body, devices, error)) {
        reportTrouble(out, "",
                      probe.uri.text + " answered GET " + probe.uri.basePath + request.target +
                          " with no device list: " + error,
                      ServerTrouble::NoDeviceList);
        return PROBE_SERVER_FAILED;
    }
    writeDeviceTable(devices, out);
    bool chosen = probe.serialNumber.empty() && !devices.empty();
    for (const ServerDevice& device : devices) {
        chosen = chosen || device.serialNumber == probe.serialNumber;
    }
    reportLine(out, "");
    if (!chosen) {
        reportLine(out, probe.serialNumber.empty()
                            ? "no USB-3000 found"
                            : "no USB-3000 with serial number " + probe.serialNumber);
        return PROBE_NO_USB3000;
    }
    return timeDecode(probe, out);
}

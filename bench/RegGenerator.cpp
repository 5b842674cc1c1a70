#include "RegGenerator.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace corvane::bench {

namespace {

// ---- A generated system.reg ------------------------------------------------------

// Orders key paths (and value names) as Wine writes them: name by name, without
// regard to case, a parent before its subkeys.
struct PathLess {
    static int Rank(char c) { return c == '\\' ? 0 : std::toupper(static_cast<unsigned char>(c)); }
    bool operator()(const std::string& a, const std::string& b) const {
        return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                            [](char x, char y) { return Rank(x) < Rank(y); });
    }
};

const char* const kWords[] = {
    "Shell", "Folder", "Item",    "Stream",  "Storage", "Moniker", "Font",   "Picture",
    "Audio", "Video",  "Device",  "Task",    "Print",   "Net",     "Xml",    "Dom",
    "Http",  "Url",    "Search",  "Sync",    "Media",   "Direct",  "Sound",  "Input",
    "Draw",  "Text",   "Speech",  "Crypt",   "Cert",    "Wmi",     "Filter", "Render",
    "Clock", "Source", "Handler", "Manager", "Factory", "Enum",    "Codec",  "Property"};
const char* const kDlls[] = {"ole32",    "oleaut32", "shell32", "msxml3",   "quartz",
                             "actxprxy", "urlmon",   "mshtml",  "wbemprox", "dsound",
                             "dinput8",  "qedit",    "wmvcore", "msi",      "jscript",
                             "vbscript", "ieframe",  "shdocvw", "mmdevapi", "windowscodecs",
                             "propsys",  "itss",     "msctf",   "devenum"};

class RegGen {
public:
    explicit RegGen(std::uint64_t seed) : rng_(seed) {}
    std::string build(std::size_t targetBytes);
    std::size_t sections() const { return keys_.size(); }
    std::size_t values() const { return values_; }

private:
    using Values = std::map<std::string, std::string, PathLess>; // name -> value line

    std::size_t pick(std::size_t n) { return rng_() % n; }
    bool chance(int percent) { return pick(100) < std::size_t(percent); }
    std::string word() { return kWords[pick(std::size(kWords))]; }
    std::string dll() { return kDlls[pick(std::size(kDlls))]; }
    std::string guid() {
        char b[40];
        const std::uint64_t a = rng_(), c = rng_();
        std::snprintf(b, sizeof b, "{%08X-%04X-%04X-%04X-%012llX}", unsigned(a >> 32),
                      unsigned(a >> 16) & 0xFFFF, unsigned(a) & 0xFFFF, unsigned(c >> 48),
                      static_cast<unsigned long long>(c & 0xFFFFFFFFFFFFull));
        return b;
    }
    std::vector<std::uint8_t> bytes(std::size_t n) {
        std::vector<std::uint8_t> out(n);
        for (auto& b : out)
            b = static_cast<std::uint8_t>(chance(30) ? 0 : rng_());
        return out;
    }
    static std::string esc(const std::string& s) {
        std::string out;
        for (char c : s) {
            if (c == '\\' || c == '"') out.push_back('\\');
            out.push_back(c);
        }
        return out;
    }

    Values& key(const std::string& path) {
        auto [it, added] = keys_.try_emplace(path);
        if (added) bytes_ += path.size() + std::count(path.begin(), path.end(), '\\') + 37;
        return it->second;
    }
    void put(const std::string& path, const std::string& name, const std::string& data) {
        std::string line = name.empty() ? "@=" : "\"" + esc(name) + "\"=";
        line += data;
        line += '\n';
        Values& values = key(path);
        const auto [it, added] = values.try_emplace(name);
        bytes_ += line.size() - it->second.size();
        values_ += added;
        it->second = std::move(line);
    }
    void sz(const std::string& k, const std::string& n, const std::string& s) {
        put(k, n, "\"" + esc(s) + "\"");
    }
    void expand(const std::string& k, const std::string& n, const std::string& s) {
        put(k, n, "str(2):\"" + esc(s) + "\"");
    }
    void multi(const std::string& k, const std::string& n, const std::vector<std::string>& parts) {
        std::string data = "str(7):\"";
        for (const auto& p : parts)
            data += esc(p) + "\\0";
        put(k, n, data + "\"");
    }
    void dword(const std::string& k, const std::string& n, std::uint32_t v) {
        char b[20];
        std::snprintf(b, sizeof b, "dword:%08x", v);
        put(k, n, b);
    }
    // Hex data as Wine lays it out: past column 76 the line goes on, indented by two.
    void hex(const std::string& k, const std::string& n, unsigned type,
             const std::vector<std::uint8_t>& data) {
        char b[16];
        std::snprintf(b, sizeof b, type == 3 ? "hex:" : "hex(%x):", type);
        std::string s = b;
        std::size_t col = (n.empty() ? 2 : esc(n).size() + 3) + s.size();
        for (std::size_t i = 0; i < data.size(); ++i) {
            std::snprintf(b, sizeof b, "%02x", data[i]);
            s += b;
            col += 2;
            if (i + 1 < data.size()) {
                s += ',';
                if (++col > 76) {
                    s += "\\\n  ";
                    col = 2;
                }
            }
        }
        put(k, n, s);
    }

    void fixedKeys();
    void clsid();
    void interface();
    void typeLib();
    void extension();
    void progId();
    void service();
    void timeZone();
    void uninstall();
    void provider();

    std::mt19937_64 rng_;
    std::map<std::string, Values, PathLess> keys_;
    std::string link_;
    std::size_t bytes_ = 0, values_ = 0;
};

void RegGen::fixedKeys() {
    const std::string cpu = "Hardware\\Description\\System\\CentralProcessor\\0";
    dword(cpu, "~MHz", 2400);
    sz(cpu, "Identifier", "Intel64 Family 6 Model 158 Stepping 10");
    sz(cpu, "ProcessorNameString", "Intel(R) Core(TM) i7-8700 CPU @ 3.20GHz");
    sz(cpu, "VendorIdentifier", "GenuineIntel");
    const std::string nt = "Software\\Microsoft\\Windows NT\\CurrentVersion";
    sz(nt, "CSDVersion", "Service Pack 1");
    sz(nt, "CurrentBuildNumber", "7601");
    sz(nt, "CurrentVersion", "6.1");
    hex(nt, "DigitalProductId", 3, bytes(164));
    dword(nt, "InstallDate", 1700000000);
    sz(nt, "ProductName", "Microsoft Windows 7");
    sz(nt, "RegisteredOwner", "");
    sz(nt, "SystemRoot", "C:\\windows");
    for (int i = 0; i < 60; ++i)
        sz(nt + "\\Fonts", word() + " " + word() + " (TrueType)", dll() + ".ttf");
    // CurrentControlSet is a link to ControlSet001, as Wine sets it up.
    link_ = "System\\CurrentControlSet";
    std::vector<std::uint8_t> target;
    for (char c : std::string("\\Registry\\Machine\\System\\ControlSet001"))
        target.insert(target.end(), {std::uint8_t(c), 0});
    hex(link_, "SymbolicLinkValue", 6, target);
    const std::string env = "System\\ControlSet001\\Control\\Session Manager\\Environment";
    expand(env, "ComSpec", "%SystemRoot%\\system32\\cmd.exe");
    expand(env, "Path", "%SystemRoot%\\system32;%SystemRoot%;%SystemRoot%\\system32\\wbem");
    sz(env, "PATHEXT", ".COM;.EXE;.BAT;.CMD;.VBS;.VBE;.JS;.JSE;.WSF;.WSH;.MSC");
    sz(env, "PROCESSOR_ARCHITECTURE", "AMD64");
    expand(env, "TEMP", "%SystemRoot%\\TEMP");
    expand(env, "windir", "%SystemRoot%");
    const std::string nls = "System\\ControlSet001\\Control\\Nls";
    for (int cp :
         {37,  437, 500, 737, 775, 850, 852,  855,  857,  860,  861,  862,  863,  865,  866,
          869, 874, 932, 936, 949, 950, 1250, 1251, 1252, 1253, 1254, 1255, 1256, 1257, 1258})
        sz(nls + "\\Codepage", std::to_string(cp), "c_" + std::to_string(cp) + ".nls");
    for (int i = 0; i < 120; ++i) {
        char id[8];
        std::snprintf(id, sizeof id, "%04x", 0x401 + i * 7);
        sz(nls + "\\Language", id, "l_intl.nls");
    }
    multi("System\\ControlSet001\\Control\\ProductOptions", "ProductSuite", {"Terminal Server"});
    dword("System\\ControlSet001\\Hardware Profiles\\Current\\Software\\Fonts", "LogPixels", 96);
}

void RegGen::clsid() {
    const char* const classes = chance(24) ? "Software\\Classes\\Wow6432Node" : "Software\\Classes";
    const std::string k = classes + std::string("\\CLSID\\") + guid(),
                      name = word() + word() + word();
    sz(k, "", name + " Class");
    sz(k + "\\InprocServer32", "", "C:\\windows\\system32\\" + dll() + ".dll");
    const char* const models[] = {"Both", "Apartment", "Free", "Neutral"};
    sz(k + "\\InprocServer32", "ThreadingModel", models[pick(4)]);
    if (chance(40)) sz(k + "\\ProgID", "", name + "." + word() + ".1");
    if (chance(25)) sz(k + "\\VersionIndependentProgID", "", name + "." + word());
    if (chance(10)) key(k + "\\Implemented Categories\\" + guid());
}

void RegGen::interface() {
    const std::string k = "Software\\Classes\\Interface\\" + guid();
    sz(k, "", "I" + word() + word() + word());
    if (chance(50)) sz(k + "\\NumMethods", "", std::to_string(3 + pick(40)));
    sz(k + "\\ProxyStubClsid32", "",
       chance(70) ? "{00020424-0000-0000-C000-000000000046}" : guid());
}

void RegGen::typeLib() {
    const std::string k = "Software\\Classes\\TypeLib\\" + guid() + "\\" +
                          std::to_string(1 + pick(2)) + "." + std::to_string(pick(3));
    sz(k, "", word() + " " + word() + " " + word() + " 1.0 Type Library");
    sz(k + "\\0\\win32", "", "C:\\windows\\syswow64\\" + dll() + ".dll");
    if (chance(60)) sz(k + "\\0\\win64", "", "C:\\windows\\system32\\" + dll() + ".dll");
    sz(k + "\\FLAGS", "", "0");
    sz(k + "\\HELPDIR", "", "");
}

void RegGen::extension() {
    std::string ext = ".";
    for (std::size_t i = 0, n = 2 + pick(3); i < n; ++i)
        ext.push_back(char('a' + pick(26)));
    const std::string k = "Software\\Classes\\" + ext;
    sz(k, "", ext.substr(1) + "file");
    if (chance(60)) sz(k, "Content Type", "application/x-" + ext.substr(1));
    if (chance(40)) sz(k, "PerceivedType", chance(50) ? "text" : "image");
    if (chance(20)) put(k + "\\OpenWithProgids", ext.substr(1) + "file", "hex(0):");
}

void RegGen::progId() {
    const std::string id = word() + word() + "." + word(), k = "Software\\Classes\\" + id;
    sz(k, "", id + " Object");
    sz(k + "\\CLSID", "", guid());
    if (chance(50)) sz(k + "\\CurVer", "", id + ".1");
}

void RegGen::service() {
    const std::string name = word() + word(), k = "System\\ControlSet001\\Services\\" + name;
    if (chance(60))
        sz(k, "Description",
           "Provides " + word() + " and " + word() + " support for " + word() + " " + word() +
               " applications; stopping it disables them.");
    sz(k, "DisplayName", name + " Service");
    dword(k, "ErrorControl", 1);
    expand(k, "ImagePath", "%SystemRoot%\\system32\\" + name + ".exe");
    sz(k, "ObjectName", "LocalSystem");
    dword(k, "Start", 2 + unsigned(pick(3)));
    dword(k, "Type", chance(70) ? 0x10 : 0x20);
    if (chance(40)) multi(k, "DependOnService", {"RPCSS", "PlugPlay"});
    if (chance(30))
        expand(k + "\\Parameters", "ServiceDll", "%SystemRoot%\\system32\\" + dll() + ".dll");
}

void RegGen::timeZone() {
    const std::string zone = word() + " " + word(),
                      k = "Software\\Microsoft\\Windows NT\\CurrentVersion\\Time Zones\\" + zone +
                          " Standard Time";
    const int id = 100 + int(pick(900));
    sz(k, "Display", "(UTC+0" + std::to_string(pick(10)) + ":00) " + zone);
    sz(k, "Dlt", zone + " Daylight Time");
    sz(k, "MUI_Display", "@tzres.dll,-" + std::to_string(id));
    sz(k, "MUI_Dlt", "@tzres.dll,-" + std::to_string(id + 1));
    sz(k, "MUI_Std", "@tzres.dll,-" + std::to_string(id + 2));
    sz(k, "Std", zone + " Standard Time");
    hex(k, "TZI", 3, bytes(44));
    if (chance(60)) {
        const std::string dst = k + "\\Dynamic DST";
        dword(dst, "FirstEntry", 2006);
        dword(dst, "LastEntry", 2009);
        for (int y = 2006; y <= 2009; ++y)
            hex(dst, std::to_string(y), 3, bytes(44));
    }
}

void RegGen::uninstall() {
    const std::string g = guid(),
                      k = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + g;
    sz(k, "DisplayName", "Wine " + word() + " " + word());
    sz(k, "DisplayVersion", std::to_string(1 + pick(9)) + "." + std::to_string(pick(20)));
    dword(k, "EstimatedSize", 1024 + unsigned(pick(90000)));
    hex(k, "InstallTime", 0xb, bytes(8));
    dword(k, "NoModify", 1);
    sz(k, "Publisher", "Wine");
    expand(k, "UninstallString", "MsiExec.exe /X" + g);
}

void RegGen::provider() {
    const std::string k = "Software\\Microsoft\\Cryptography\\Defaults\\Provider\\Microsoft " +
                          word() + " " + word() + " Cryptographic Provider";
    sz(k, "Image Path", "C:\\windows\\system32\\rsaenh.dll");
    hex(k, "Signature", 3, bytes(136));
    dword(k, "Type", 1 + unsigned(pick(24)));
}

std::string RegGen::build(std::size_t targetBytes) {
    fixedKeys();
    // The mix of a fresh prefix: mostly COM registrations, then services, time zones,
    // installed programs. Weights in percent.
    static constexpr std::pair<int, void (RegGen::*)()> kMix[] = {
        {34, &RegGen::clsid},    {20, &RegGen::interface}, {4, &RegGen::typeLib},
        {9, &RegGen::extension}, {8, &RegGen::progId},     {7, &RegGen::service},
        {6, &RegGen::timeZone},  {3, &RegGen::uninstall},  {9, &RegGen::provider}};
    while (bytes_ < targetBytes) {
        int r = int(pick(100)), i = 0;
        while (r >= kMix[i].first)
            r -= kMix[i++].first;
        (this->*kMix[i].second)();
    }
    std::string out =
        "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n#arch=win64\n";
    out.reserve(bytes_ + bytes_ / 8);
    std::uint32_t unixTime = 1700000000;
    for (const auto& [path, values] : keys_) {
        unixTime += std::uint32_t(pick(3));
        out += "\n[";
        for (char c : path)
            out += c == '\\' ? std::string("\\\\") : std::string(1, c);
        const std::uint64_t fileTime =
            unixTime * 10000000ull + 116444736000000000ull + pick(10000000);
        char b[64];
        std::snprintf(b, sizeof b, "] %u\n#time=%llx\n", unixTime,
                      static_cast<unsigned long long>(fileTime));
        out += b;
        if (path == link_) out += "#link\n";
        for (const auto& [name, line] : values)
            out += line;
    }
    return out;
}

} // namespace

GeneratedReg GenerateSystemReg(std::size_t targetBytes, std::uint64_t seed) {
    RegGen gen(seed);
    GeneratedReg out;
    out.text = gen.build(targetBytes);
    out.sections = gen.sections();
    out.values = gen.values();
    return out;
}

} // namespace corvane::bench

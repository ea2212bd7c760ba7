// Feeds arbitrary bytes to the XML reader, the canonical writer and the full
// description loader. Any crash, leak or undefined behaviour is a finding.
#include <cstdint>
#include <cstdio>
#include <string>
#include <unistd.h>

#include "device/description.h"
#include "device/signature.h"
#include "xml/xml_document.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    tunavox::XmlDocument doc;
    if (doc.LoadBytes(bytes).empty()) {
        (void)tunavox::DocumentDigest(doc);
        (void)doc.Root().ChildText("REGISTERS");
    }

    static const std::string path = "/tmp/tunavox-fuzz-" + std::to_string(getpid()) + ".xml";
    if (FILE* f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
        tunavox::TRegList regs;
        tunavox::TNameValueList texts;
        tunavox::TDescription desc;
        (void)tunavox::LoadDescription(path, regs, texts, desc, "/tmp/");
        // Random input almost never carries a valid signature, so also drive the
        // register reader directly.
        if (doc.LoadBytes(bytes).empty())
            if (const tunavox::XmlElement r = doc.Root().FirstChild("REGISTERS")) {
                (void)regs.Load(r);
                for (int i = 0; i < regs.Count(); ++i) {
                    (void)regs.Items(i)->DisplayText();
                    (void)regs.Items(i)->IsModified();
                }
            }
    }
    return 0;
}

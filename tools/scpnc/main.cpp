// scpnc: compiles a model description (XML) into the C++ sources of the
// model. Usage: scpnc <description.xml> <output-dir>
// The whole description is checked before anything is written; on any error
// the output folder is left untouched and the exit status is 1.
#include <iostream>

#include "Diagnostics.h"
#include "Emit.h"
#include "ModelChecker.h"
#include "ModelReader.h"
#include "OutputFolder.h"
#include "XmlTree.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: scpnc <description.xml> <output-dir>\n";
        return 1;
    }
    const std::string description = argv[1];
    const std::string folder = argv[2];

    scpnc::Diagnostics diagnostics(description);
    scpnc::XmlElement root;
    if (!scpnc::readXmlTree(description, root, diagnostics)) {
        diagnostics.print(std::cerr);
        return 1;
    }
    const scpnc::Model model = scpnc::readModel(root, diagnostics);
    if (!diagnostics.hasErrors()) scpnc::checkModel(model, diagnostics);
    if (diagnostics.hasErrors()) {
        diagnostics.print(std::cerr);
        return 1;
    }

    std::string error;
    if (!scpnc::writeOutput(folder, scpnc::emitModel(model), error)) {
        std::cerr << folder << ": error: " << error << "\n";
        return 1;
    }
    return 0;
}

#pragma once
// The code generators: each turns one part of the model into the text of its
// files. Nothing here touches the file system.
#include <string>
#include <vector>

#include "Model.h"

namespace scpnc {

struct GeneratedFile {
    std::string name;  // file name inside the output folder
    std::string content;
};

// buildnet.h and buildnet.cpp: ImplementedNetClass and main.
std::vector<GeneratedFile> emitNet(const Model& model);
// Token_<Colour>.h/.cpp
std::vector<GeneratedFile> emitColour(const Model& model, const Colour& colour);
// Transition_<X>.h/.cpp
std::vector<GeneratedFile> emitTransition(const Model& model, const TransitionDecl& transition);
// MeasureObj_<X>.h/.cpp
std::vector<GeneratedFile> emitMeasure(const Model& model, const MeasureDecl& measure);
// Every file of the model, including model_sources.cpp, which compiles all
// class sources as one translation unit.
std::vector<GeneratedFile> emitModel(const Model& model);

// Shared by the generators.
std::string fileBanner(const Model& model, const std::string& what);
// `body` without its leading and trailing blank lines and without the
// indentation its lines share, each line indented by `indent` spaces.
std::string reindented(const std::string& body, int indent);

}  // namespace scpnc

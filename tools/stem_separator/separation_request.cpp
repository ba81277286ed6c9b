#include "separation_request.h"

#include "separation_error.h"

#include <charconv>
#include <cmath>
#include <optional>

namespace fotivela::stem_separator {

namespace {

constexpr std::string_view usage =
    " (uso: -n <modelo> --repo <carpeta> --device cpu --segment <segundos> --out <carpeta> <archivo>)";

[[noreturn]] void fail(const std::string& what)
{
    throw UsageError(what + std::string(usage));
}

void setOnce(std::optional<std::string>& slot, std::string_view option, std::string_view value)
{
    if (slot)
        fail("Opción repetida: " + std::string(option));
    slot = std::string(value);
}

double positiveNumber(const std::string& text)
{
    double value = 0;
    const auto* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (error != std::errc() || stop != end || !std::isfinite(value) || value <= 0)
        fail("--segment necesita un número positivo, no «" + text + "»");
    return value;
}

// A model name becomes a file and folder name: keep it to one plain path component.
bool isPlainName(const std::string& name)
{
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos
        && name.find('\0') == std::string::npos;
}

} // namespace

std::filesystem::path SeparationRequest::stemFolder() const
{
    return outputRoot / modelName / input.filename().stem();
}

SeparationRequest parseSeparationRequest(std::span<const std::string_view> arguments)
{
    std::optional<std::string> model, repo, device, segment, out, input;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string_view argument = arguments[i];
        const bool isOption = argument == "-n" || argument == "--repo" || argument == "--device"
            || argument == "--segment" || argument == "--out";
        if (isOption) {
            if (i + 1 >= arguments.size())
                fail("Falta el valor de " + std::string(argument));
            const std::string_view value = arguments[++i];
            if (argument == "-n")
                setOnce(model, argument, value);
            else if (argument == "--repo")
                setOnce(repo, argument, value);
            else if (argument == "--device")
                setOnce(device, argument, value);
            else if (argument == "--segment")
                setOnce(segment, argument, value);
            else
                setOnce(out, argument, value);
        } else if (argument.starts_with('-') && argument != "-") {
            fail("Opción desconocida: " + std::string(argument));
        } else {
            if (input)
                fail("Sobra un archivo de entrada: " + std::string(argument));
            input = std::string(argument);
        }
    }
    if (!model)
        fail("Falta -n");
    if (!repo)
        fail("Falta --repo");
    if (!device)
        fail("Falta --device");
    if (!segment)
        fail("Falta --segment");
    if (!out)
        fail("Falta --out");
    if (!input || input->empty())
        fail("Falta el archivo de entrada");
    if (!isPlainName(*model))
        fail("Nombre de modelo no válido: «" + *model + "»");
    if (*device != "cpu")
        fail("Dispositivo no disponible: «" + *device + "» (solo cpu)");
    if (repo->empty() || out->empty())
        fail("Carpeta vacía en --repo o --out");
    const std::filesystem::path inputPath(*input);
    if (!inputPath.has_filename() || inputPath.filename().stem().empty())
        fail("Archivo de entrada no válido: «" + *input + "»");

    SeparationRequest request;
    request.modelName = *model;
    request.modelFolder = *repo;
    request.device = *device;
    request.segmentSeconds = positiveNumber(*segment);
    request.outputRoot = *out;
    request.input = inputPath;
    return request;
}

} // namespace fotivela::stem_separator

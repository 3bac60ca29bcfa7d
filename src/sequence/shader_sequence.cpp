#include "sequence/shader_sequence.hpp"

#include "regular_file.hpp"

#include <fstream>
#include <iostream>
#include <locale>
#include <sstream>

std::optional<SequenceLine> parseSequenceLine(const std::string& line)
{
    if (line.empty() || line[0] == '#')
        return std::nullopt;

    // The classic locale, so that "2.5" means the same on every machine.
    std::istringstream iss(line);
    iss.imbue(std::locale::classic());
    SequenceLine parsed{{}, 0.0f};
    if (!(iss >> parsed.shaderPath >> parsed.durationSeconds))
        return std::nullopt;
    return parsed;
}

std::vector<ShaderItem> loadShaderSequence(const std::string& filename)
{
    std::vector<ShaderItem> sequence;

    std::ifstream file;
    if (isRegularFile(filename))
        file.open(filename);
    if (!file.is_open())
    {
        std::cerr << "Errore apertura file: " << filename << std::endl;
        return sequence;
    }

    std::string line;
    while (std::getline(file, line))
    {
        const std::optional<SequenceLine> step = parseSequenceLine(line);
        if (!step)
            continue;

        auto shader = std::make_shared<sf::Shader>();
        if (!isRegularFile(step->shaderPath) || !shader->loadFromFile(step->shaderPath, sf::Shader::Fragment))
        {
            std::cerr << "Errore nel caricamento dello shader: " << step->shaderPath << std::endl;
            continue;
        }
        sequence.push_back(ShaderItem{std::move(shader), step->durationSeconds});
    }

    std::cout << "Shader caricate: " << sequence.size() << std::endl;
    return sequence;
}

// The library's enumerations by the names the library gives their values (search_mode_name,
// priority_name, ...): the command line's strings, which are also the values of the Python
// enums in quillmere/_enums.py.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <pybind11/pybind11.h>

namespace quillmere::python {

/// A naming function of the library, such as search_mode_name.
template <typename Enum>
using NameOf = const char* (*)(Enum) noexcept;

/// Every value of an enumeration with its name, in order. The values of the library's
/// enumerations run from 0 up, and a naming function says "unknown" past the last one.
template <typename Enum>
std::vector<std::pair<Enum, std::string>> named_values(NameOf<Enum> name) {
    std::vector<std::pair<Enum, std::string>> values;
    for (int i = 0; i < 64; ++i) {
        const std::string text = name(static_cast<Enum>(i));
        if (text == "unknown") break;
        values.emplace_back(static_cast<Enum>(i), text);
    }
    return values;
}

/// The value of that name, if there is one.
template <typename Enum>
std::optional<Enum> value_named(NameOf<Enum> name, std::string_view text) {
    for (const auto& [value, value_name] : named_values(name)) {
        if (value_name == text) return value;
    }
    return std::nullopt;
}

/// "a, b or c": the names of an enumeration as a refusal lists them.
template <typename Enum>
std::string accepted_names(NameOf<Enum> name) {
    const auto values = named_values(name);
    std::string text;
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (i > 0) text += i + 1 == values.size() ? " or " : ", ";
        text += values[i].second;
    }
    return text;
}

/// The member of quillmere's Python enum `enum_class` (in quillmere._enums) whose value is
/// `value_name`.
pybind11::object python_enum(const char* enum_class, const std::string& value_name);

/// The library's names of each enumeration the module uses, by the Python enum's name.
pybind11::dict enumeration_names();

}  // namespace quillmere::python

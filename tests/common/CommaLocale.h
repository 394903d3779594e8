// A numeric locale whose decimal separator is a comma, by its Linux or its Windows name.
#pragma once

#include <clocale>
#include <initializer_list>

inline bool UseCommaLocale() {
    for (const char* name : {"ru_RU.UTF-8", "Russian_Russia.1251"})
        if (std::setlocale(LC_NUMERIC, name) != nullptr) return true;
    return false;
}

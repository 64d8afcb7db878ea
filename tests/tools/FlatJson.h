// Reads one JSON object (string, number, true/false and null values, and
// objects and arrays of them), or an array of objects, the strict way, so
// that a report a script could not parse fails the test.
#pragma once

#include <cctype>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

struct JsonValue {
    enum Kind { STRING, NUMBER, BOOL, NUL, OBJECT, ARRAY } nKind = NUL;
    std::string text;  // STRING: decoded; NUMBER: as written
    double number = 0;
    std::vector<std::string> keys;  // OBJECT: the member names, sorted
    std::vector<JsonValue> items;   // OBJECT: the members' values; ARRAY: the elements

    // An OBJECT's member (a null value when there is none).
    const JsonValue& Member(const std::string& key) const
    {
        static const JsonValue none;
        for (std::size_t i = 0; i < keys.size(); ++i)
            if (keys[i] == key)
                return items[i];
        return none;
    }
};

class CFlatJson {
public:
    // False on any syntax error, a key given twice or text after the object.
    bool Parse(const std::string& text, std::map<std::string, JsonValue>* pObject)
    {
        m_s = text;
        m_i = 0;
        if (!Object(pObject))
            return false;
        Blanks();
        return m_i == m_s.size();
    }

    // An array of such objects: [] or [{...}, {...}].
    bool ParseArray(const std::string& text, std::vector<std::map<std::string, JsonValue>>* pArray)
    {
        m_s = text;
        m_i = 0;
        pArray->clear();
        if (!Take('['))
            return false;
        if (!Take(']')) {
            do {
                pArray->emplace_back();
                if (!Object(&pArray->back()))
                    return false;
            } while (Take(','));
            if (!Take(']'))
                return false;
        }
        Blanks();
        return m_i == m_s.size();
    }

private:
    bool Object(std::map<std::string, JsonValue>* pObject)
    {
        pObject->clear();
        if (!Take('{'))
            return false;
        if (Take('}'))
            return true;
        do {
            std::string key;
            JsonValue value;
            if (!String(&key) || !Take(':') || !Value(&value) || pObject->count(key))
                return false;
            (*pObject)[key] = value;
        } while (Take(','));
        return Take('}');
    }
    void Blanks()
    {
        while (m_i < m_s.size() && std::isspace(static_cast<unsigned char>(m_s[m_i])))
            ++m_i;
    }
    bool Take(char c)
    {
        Blanks();
        if (m_i < m_s.size() && m_s[m_i] == c) {
            ++m_i;
            return true;
        }
        return false;
    }
    bool Literal(const char* psz)
    {
        const std::string word = psz;
        if (m_s.compare(m_i, word.size(), word) != 0)
            return false;
        m_i += word.size();
        return true;
    }
    static void PutUtf8(unsigned cp, std::string* pOut)
    {
        if (cp < 0x80)
            *pOut += static_cast<char>(cp);
        else if (cp < 0x800) {
            *pOut += static_cast<char>(0xC0 | (cp >> 6));
            *pOut += static_cast<char>(0x80 | (cp & 0x3F));
        }
        else {
            *pOut += static_cast<char>(0xE0 | (cp >> 12));
            *pOut += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            *pOut += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    bool String(std::string* pOut)
    {
        if (!Take('"'))
            return false;
        while (m_i < m_s.size()) {
            const unsigned char c = static_cast<unsigned char>(m_s[m_i++]);
            if (c == '"')
                return true;
            if (c < 0x20)
                return false;
            if (c != '\\') {
                *pOut += static_cast<char>(c);
                continue;
            }
            if (m_i >= m_s.size())
                return false;
            const char e = m_s[m_i++];
            const std::string simple = "\"\\/bfnrt", decoded = "\"\\/\b\f\n\r\t";
            if (simple.find(e) != std::string::npos)
                *pOut += decoded[simple.find(e)];
            else if (e == 'u' && m_i + 4 <= m_s.size()) {
                const std::string hex = m_s.substr(m_i, 4);
                if (hex.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
                    return false;
                PutUtf8(static_cast<unsigned>(std::strtoul(hex.c_str(), nullptr, 16)), pOut);
                m_i += 4;
            }
            else
                return false;
        }
        return false;
    }
    bool Nested(JsonValue* pValue)
    {
        if (m_s[m_i] == '[') {
            pValue->nKind = JsonValue::ARRAY;
            ++m_i;
            if (Take(']'))
                return true;
            do {
                pValue->items.emplace_back();
                if (!Value(&pValue->items.back()))
                    return false;
            } while (Take(','));
            return Take(']');
        }
        std::map<std::string, JsonValue> members;
        if (!Object(&members))
            return false;
        pValue->nKind = JsonValue::OBJECT;
        for (const auto& entry : members) {
            pValue->keys.push_back(entry.first);
            pValue->items.push_back(entry.second);
        }
        return true;
    }
    bool Value(JsonValue* pValue)
    {
        Blanks();
        if (m_i >= m_s.size())
            return false;
        if (m_s[m_i] == '[' || m_s[m_i] == '{')
            return Nested(pValue);
        if (m_s[m_i] == '"') {
            pValue->nKind = JsonValue::STRING;
            return String(&pValue->text);
        }
        if (Literal("null"))
            return pValue->nKind = JsonValue::NUL, true;
        if (Literal("true") || Literal("false")) {
            pValue->nKind = JsonValue::BOOL;
            pValue->number = m_s[m_i - 2] == 'u';  // the u of true
            return true;
        }
        const std::size_t nStart = m_i;
        if (m_s[m_i] == '-')
            ++m_i;
        while (m_i < m_s.size() && (std::isdigit(static_cast<unsigned char>(m_s[m_i])) || m_s[m_i] == '.'))
            ++m_i;
        pValue->text = m_s.substr(nStart, m_i - nStart);
        char* pEnd = nullptr;
        pValue->number = std::strtod(pValue->text.c_str(), &pEnd);
        pValue->nKind = JsonValue::NUMBER;
        return !pValue->text.empty() && pEnd && *pEnd == '\0';
    }

    std::string m_s;
    std::size_t m_i = 0;
};

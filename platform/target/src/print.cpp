// Text and number formatting of the Print class, with the Arduino core's
// semantics: numbers in any base from 2 to 36, base 0 writes the raw byte,
// signed values are negative only in base 10, floats are rounded to the
// given number of decimals.
#include <math.h>
#include <string.h>

#include "Arduino.h"

size_t Print::write(const uint8_t* buffer, size_t size) {
    size_t written = 0;
    while (size-- > 0) {
        written += write(*buffer++);
    }
    return written;
}

size_t Print::write(const char* text) {
    if (text == nullptr) {
        return 0;
    }
    return write(reinterpret_cast<const uint8_t*>(text), strlen(text));
}

size_t Print::print(const char* text) {
    return write(text);
}
size_t Print::print(const String& text) {
    return write(text.c_str());
}
size_t Print::print(char c) {
    return write(static_cast<uint8_t>(c));
}

size_t Print::print(unsigned char value, int base) {
    return print(static_cast<unsigned long>(value), base);
}
size_t Print::print(int value, int base) {
    return print(static_cast<long>(value), base);
}
size_t Print::print(unsigned int value, int base) {
    return print(static_cast<unsigned long>(value), base);
}

size_t Print::print(long value, int base) {
    if (base == 0) {
        return write(static_cast<uint8_t>(value));
    }
    if (base == 10 && value < 0) {
        const size_t sign = print('-');
        return sign + print_number(0u - static_cast<uint32_t>(value), 10);
    }
    return print_number(static_cast<uint32_t>(value), base);
}

size_t Print::print(unsigned long value, int base) {
    if (base == 0) {
        return write(static_cast<uint8_t>(value));
    }
    return print_number(static_cast<uint32_t>(value), base);
}

size_t Print::print(double value, int decimals) {
    return print_float(value, decimals);
}

size_t Print::println() {
    return write("\r\n");
}
size_t Print::println(const char* text) {
    return print(text) + println();
}
size_t Print::println(const String& text) {
    return print(text) + println();
}
size_t Print::println(char c) {
    return print(c) + println();
}
size_t Print::println(unsigned char value, int base) {
    return print(value, base) + println();
}
size_t Print::println(int value, int base) {
    return print(value, base) + println();
}
size_t Print::println(unsigned int value, int base) {
    return print(value, base) + println();
}
size_t Print::println(long value, int base) {
    return print(value, base) + println();
}
size_t Print::println(unsigned long value, int base) {
    return print(value, base) + println();
}
size_t Print::println(double value, int decimals) {
    return print(value, decimals) + println();
}

size_t Print::print_number(uint32_t value, int base) {
    if (base < 2 || base > 36) {
        base = 10;
    }
    // 32 binary digits at most, built from the last.
    char digits[33];
    char* next = &digits[sizeof digits - 1];
    *next = 0;
    do {
        const uint32_t digit = value % static_cast<uint32_t>(base);
        value /= static_cast<uint32_t>(base);
        *--next = static_cast<char>(digit < 10 ? '0' + digit : 'A' + digit - 10);
    } while (value != 0);
    return write(next);
}

size_t Print::print_float(double value, int decimals) {
    if (isnan(value)) {
        return write("nan");
    }
    if (isinf(value)) {
        return write("inf");
    }
    // The integer part must fit the 32-bit number printer.
    if (value > 4294967040.0 || value < -4294967040.0) {
        return write("ovf");
    }
    size_t written = 0;
    if (value < 0.0) {
        written += print('-');
        value = -value;
    }
    double rounding = 0.5;
    for (int i = 0; i < decimals; ++i) {
        rounding /= 10.0;
    }
    value += rounding;
    const uint32_t whole = static_cast<uint32_t>(value);
    double remainder = value - static_cast<double>(whole);
    written += print_number(whole, 10);
    if (decimals > 0) {
        written += print('.');
    }
    while (decimals-- > 0) {
        remainder *= 10.0;
        const uint32_t digit = static_cast<uint32_t>(remainder);
        written += print_number(digit, 10);
        remainder -= digit;
    }
    return written;
}

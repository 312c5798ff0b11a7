// Arduino print semantics with the chip's 32-bit long: numbers in bases 2
// to 16 with upper-case digits, floats rounded to a number of decimals.
#include <Arduino.h>

#include <cmath>

size_t Print::write(const uint8_t* buffer, size_t size) {
    size_t written = 0;
    while (written < size && write(buffer[written]) != 0) {
        ++written;
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
    return write(reinterpret_cast<const uint8_t*>(text.c_str()), text.length());
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
    // The chip's long has 32 bits.
    const int32_t number = static_cast<int32_t>(value);
    if (base == 0) {
        return write(static_cast<uint8_t>(number));
    }
    if (base == DEC && number < 0) {
        const size_t sign = print('-');
        return sign + print_number(0u - static_cast<uint32_t>(number), DEC);
    }
    return print_number(static_cast<uint32_t>(number), base);
}

size_t Print::print(unsigned long value, int base) {
    const uint32_t number = static_cast<uint32_t>(value);
    if (base == 0) {
        return write(static_cast<uint8_t>(number));
    }
    return print_number(number, base);
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
    if (base < 2 || base > 16) {
        base = DEC;
    }
    char digits[33];  // 32 binary digits and the terminator
    char* at = &digits[sizeof(digits) - 1];
    *at = 0;
    do {
        const uint32_t digit = value % static_cast<uint32_t>(base);
        value /= static_cast<uint32_t>(base);
        *--at = static_cast<char>(digit < 10 ? '0' + digit : 'A' + digit - 10);
    } while (value != 0);
    return write(at);
}

size_t Print::print_float(double value, int decimals) {
    if (std::isnan(value)) {
        return print("nan");
    }
    if (std::isinf(value)) {
        return print("inf");
    }
    // Beyond what the 32-bit integer part can hold.
    if (value > 4294967040.0 || value < -4294967040.0) {
        return print("ovf");
    }
    if (decimals < 0) {
        decimals = 0;
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
    const uint32_t integer = static_cast<uint32_t>(value);
    double remainder = value - static_cast<double>(integer);
    written += print(static_cast<unsigned long>(integer));
    if (decimals > 0) {
        written += print('.');
    }
    while (decimals-- > 0) {
        remainder *= 10.0;
        const unsigned int digit = static_cast<unsigned int>(remainder);
        written += print(digit);
        remainder -= digit;
    }
    return written;
}

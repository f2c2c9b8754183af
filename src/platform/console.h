#pragma once
// A minimal replaceable text console. All output goes through the active
// console; the program installs a default one (standard input and output) at
// start-up, and the first console constructed after it takes over.
#include <cstdarg>
#include <cstddef>

class console {
public:
    console();
    virtual ~console();

    virtual void output_data(int channel, const char* format, va_list args);
    virtual int input_data(char* buffer, size_t size);

    static void output(const char* format, ...) __attribute__((format(printf, 1, 2)));
    // Prints on the error channel, then ends the program abnormally.
    [[noreturn]] static void error(const char* format, ...) __attribute__((format(printf, 1, 2)));
    static int input(char* buffer, size_t size);

    static console* active_console;

protected:
    // Marks the console that later consoles may replace.
    struct DefaultTag {};
    explicit console(DefaultTag);

private:
    bool isDefault_ = false;
};

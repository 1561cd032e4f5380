#pragma once

// Process-wide instance of T, constructed on first use and destroyed at exit in
// reverse order of construction. The function-local static makes the first use
// safe when two threads arrive at once (the compiler guards it).
template <typename T>
class CSingleton {
public:
    static T& Instance()
    {
        static T instance;
        return instance;
    }

    CSingleton() = delete;
};

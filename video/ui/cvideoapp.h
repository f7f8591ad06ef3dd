#pragma once

// The application object: runs the main dialog modally; the program ends with it.
class CvideoApp
{
public:
    int Run();
};

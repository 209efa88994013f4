namespace SysPaths { const char* rootPrefix() { return ULVAROND_ROOT_PREFIX; } }

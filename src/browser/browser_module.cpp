// Placeholder until the web page window lands.
extern "C" int zembrola_browser_module_version() { return 1; }

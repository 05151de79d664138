// Placeholder until the window lands.
int main() { return 0; }

/* The cheapest dynamically linked C program: what start-up costs with nothing of ours in it. */
int main(void) { return 0; }

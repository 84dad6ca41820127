# Tables generated at build time from data/ (included by the top-level CMakeLists.txt).
kogane_generate(gaiji_tables.inc tools/gen_gaiji_tables.py data/gaiji-descriptions.tsv)

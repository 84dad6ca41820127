# Tables generated at build time from data/ (included by the top-level CMakeLists.txt).
kogane_generate(gaiji_tables.inc tools/gen_gaiji_tables.py data/gaiji-descriptions.tsv)
# The annotation keywords: names, rows and the editor catalogue from one table.
kogane_generate(keyword_names.inc tools/gen_keywords.py data/annotation-keywords.tsv)
kogane_generate(keyword_rows.inc tools/gen_keywords.py data/annotation-keywords.tsv)
kogane_generate(keyword_catalogue.inc tools/gen_keywords.py data/annotation-keywords.tsv)

"""A small reference web wiki over the wikidb Python package."""

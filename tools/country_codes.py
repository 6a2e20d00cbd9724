"""ISO 3166-1 alpha-2 codes for the regions of the ISBN registration groups.

The code comes from Debian's iso-codes data; a short list of overrides covers the names that
the ISBN agency spells differently from ISO, and the groups of a language, a former state or an
organisation get "??".
"""
import json

ISO_3166_1 = "/usr/share/iso-codes/json/iso_3166-1.json"

# Groups without a country: languages, former states, organisations (978 prefix).
NO_COUNTRY = {"0", "1", "2", "3", "5", "80", "86", "92", "976", "982", "9951", "99914"}

# The agency's name where ISO's differs.
OVERRIDES = {
    "China, People's Republic": "CN",
    "Hong Kong, China": "HK",
    "Korea, P.D.R.": "KP",
    "Korea, Republic": "KR",
    "Kyrgyz Republic": "KG",
    "Lao People's Democratic Republic": "LA",
    "Macau": "MO",
    "Palestine": "PS",
    "Srpska, Republic of": "BA",
    "Taiwan": "TW",
    "Turkey": "TR",
}


def load_iso_names(path=ISO_3166_1):
    with open(path, encoding="utf-8") as f:
        countries = json.load(f)["3166-1"]
    names = {}
    for country in countries:
        for key in ("name", "common_name", "official_name"):
            if key in country:
                names[country[key].casefold()] = country["alpha_2"]
    return names


def country_code(prefix, group, name, iso_names):
    """Returns the code for one group: "??" for a group without a country, None where the
    name is not known."""
    if prefix == "978" and group in NO_COUNTRY:
        return "??"
    if name in OVERRIDES:
        return OVERRIDES[name]
    return iso_names.get(name.casefold())

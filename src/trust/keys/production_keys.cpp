// The publisher keys that the shipped launcher accepts. This file is the only place they live;
// it is linked into the production launcher alone (test builds link a generated table instead).
// Each text is the base64 of the signer certificate's SubjectPublicKeyInfo bit string: a DER
// RSAPublicKey for the RSA keys, the uncompressed point (0x04, X, Y) for the P-384 key.
#include "src/trust/signature.h"

const uint32_t publisher_key_count = 7;

const char16_t *const publisher_keys[] = {
    // 1: RSA-4096
    u"MIICCgKCAgEA0FJktp2F8tGm/xWyBuJwOmrkrjIMdaJzRG8cWtHHt3pKSrA56+QIZh0r/INodclhKaAijb9kRT9t"
    u"O9timaIqLTEpCIWRvk4+AIBMo6zzt+v44/mEGWMy2CQYgzRaTN+wMDCCM0UjcDFZ6L4WRUgnACrs8/ZAGwAGVArN"
    u"jiP4zetlfPgMgQPDWI0HlYqV62HKXlZlGiihCEVOnM/7iUywt106lUe4x7qJejsxIFRprcw7HyYKuOBhvEHByo4o"
    u"XmMVsVjnA7amCBWbkqqEXrjkbx8MF6EUL5grBZo0nLInMgk/0QYwqhmdNBgG4PWghyow+96PDEgz0SSK0aKkYbn4"
    u"V+lOd++JtLEn/ALgbHJ5x59uY7Aaec0CdGN4llqkLMsaQ0MZa2vKsGehkGUPVCWc8gQJ+AgU7VQ4F1T9Hd5WOaf8"
    u"t791uV9I2vcfXzNr4PRjp4gwsvWA63GO/zAT4W/NFsEoJ6ImaqDG8RKoC8wSfj2XWvk94JW/pOBeOHEBfQdZbhB+"
    u"O6MYhLNluST1aW2YOqDPnBVe2QdMLC4mJzYsaUPND1ZBlqRrv3EqF4oEEFaPVrNK6+pTBVrJDAlBbAFycmUgd1UO"
    u"OvyHm3BVZ67jhq77OoaHCODC6gEW+OBZzlsYYzzB4+fTMtps8luWi3WyEdFnODbcsPM1gFdPK2I9zdMCAwEAAQ==",
    // 2: P-384 point
    u"BNyuvKIC9pNjsECCmUaa+TuFM7DcDtPIO0t0h3sJFK0CmY+orX1xXwFc+j5Ary1dra/KFwWUgiL3YAptlysDEyI7"
    u"snSQhLKMDw2EYwCewCptLtFH6SahVKl+9J1SKxGpXw==",
    // 3: RSA-4096
    u"MIICCgKCAgEAy1IZ+bOS9OnFwXBYhx+fQeplTxfAF4TtFWgnXN9E/2+cZl209Q2/VXSGvd9fJIBx7JB6kYJv8JSe"
    u"NU+klv2MPIIIMsDtpnbLCvuCLWClTFdNwsEvA3595mkxnLvSNRm1aNc6P56CqdLNyBhbPWUNxOjxYdXX98Q6tt53"
    u"2hcoOEyKZ6czpuENCTmLvwPF90Xtx20pJOkrS1DFc9MvbFYuOD2xLmk2jhc74wzKUyFqTrKVuJ/CuP5RmI0XVJDJ"
    u"z3vUblInwsXf42jmADVMWs13D+laYgjkBmKlfTnnfEOxOrZ4CaAoUPns7HwwH3hf5mnkQlKSpSJkR2Zhl4A9OWLF"
    u"yFTZtZzbnPA5Pc4As7hVlcERMrY+qZakOqznp/t4xYDwqMdWJXcWXGclx+QIlvZzNaPCynnt4OsHqzFWRaHXmpy0"
    u"CFTeBk6BLPUmyBjhzA0/x/Sk2JwmrA0ELc/2NTPDD6HdQYsFuQ6fNzpyq6BIQYW9N3B61WTA5RUNoX1QS/JtEQqu"
    u"XgrO1IIXf/XQj5UmGdqeKEI4k0wDfI8KbGClFoi4cBa7IWL6fMaH8aEaWgvo8hbO519gbBnHfSt/b0I7X6xUGmie"
    u"xOd/6Ap2kQeo4WKuSmYzo8Dc46dcH9CxLexKXHqonnfr85dKARVUgR7dP+Zyn549lKtdjUMCuriKCdkCAwEAAQ==",
    // 4: RSA-4096
    u"MIICCgKCAgEAzhvKb41AnOBPtV1MVLNGeXe8ti3Nx24UDT9ZUUqWUNR1Ygpx2d9uqC6eRlIu1SYKglHW6nxCRWjQ"
    u"4pmGzl5tPEuv5ElZXlfOyuqpmhJWvJyz5JLi1axGHEmD1aRCu650mn8M95h8ujQRxVgiZA2YTIaoxnPU2j53WRWd"
    u"jt4/8urqMkY/aYz4Fy1LY5CLwC53oajzB2X52eQe2Gm+BvAs8wQZgxnf/gSSiAE+yLvcS03sH5qKIdTbBhFC2DKC"
    u"juIBWS894b+/poyrh3pj52ysrDfm/Kvk7jnl8Z/Gdf+1F+VNncbY9izr+oKaXZFMrbgCah3/v6Zzmlv0Vcs4Qi7K"
    u"J/7P+/nAWxCmMZ4pxidX1/+UgbCWhbDXGYgNlcr/OeMObr902QpzxihWc4SgpeS9frfshfB2C5o4ZuGkeH4x2MtB"
    u"qbaTk1XymLuMTshbC2c16fUbTZ5JchD0M2hnyynuSiuokCMP+NAzKA1QFe6et3AktZ3VcEqAG2y+EX0c0oDov+8Q"
    u"z5zH/eJxMcqliFqgd4zNwCz1GtM2mPTvzFZphCCwCmUzRBpe9khvtf5LTRAX4QepI3+gJAz9xu3MtrY32hf+pfB6"
    u"l3N4MHxq+0apAXYUWy8WpxO+EJEAzKZriulfO3OACUPBN5oIiQ3/KyCN+kaFRX4q+ZEiprc9RxDubK8CAwEAAQ==",
    // 5: RSA-4096
    u"MIICCgKCAgEAzn8DHURCFPXbrrjHlevMwq70v1hpqrQa6BOnHJJtNwDQHYM7xev5VfrBRTpUIWBXltm046cvCjBt"
    u"aqwbO3T0yGLzZt6g//oiBuZVnEmiXZm1KYoAN8qb0hIqv25zPO7y1xpXmJs5HncqnQLHGYStZhgwyFA1kVG2hrlm"
    u"gOVvUi2mX3yE/WB87lE/9wmCjlmNGjvSe02CJwnx5mcHac054iB3fwjwc3Kf1k85/Q06GAWrbaJS+etv6pE2gsb5"
    u"st0TrMtaMNLLkGi9zd/n3bWRIxzMADq6NiPsDt9cqmwdvv8l/fu1fD34FhYEQheSsWk4vw4gvCiko13cL7/0vrEX"
    u"AFZWiRkWyEouzgOlq+rvTXqElKDRMJG+weOp+y1IF77qR8hpKZnBQwdZdYfXSE/ySJ+Ocz1bMQ4BQ8ADSMSt8LEF"
    u"ep6JUcm30Fmi+35m/jDxypaQnBobVmVmldgUT3zNuq+shUqUFRRE3plrO8Dng4m3+Fv4aZMh8ln8RlaKPy75rQxm"
    u"e1VZqt/03SR7LDhuNsvV2LDTfn3j1KLGrE7Y+JD1Nbfk6KoU3Ez85BfbNGxU+DgIMW1dYp/L1jOFgjdppv7m8KT0"
    u"0D7W9s87zKerFeNrbHEQTIIsjx+Gi4Tau2LjFg+sZ6zqiSc+kHMHA+4nOAY+HiDVtvWG7echbD0Nuc0CAwEAAQ==",
    // 6: RSA-2048
    u"MIIBCgKCAQEAmeYVnJAk4laAcempaq9OzV18bZLgo7m0+zPm3/dsgC3O0zXDb/cNtijsyWL5YSWngrlyE8sHv8/V"
    u"uw8CoKPbJNvyCKVRDZFWeg+NpUsQkvusZ7Ao9RspmiNIVwsVyQH50N0tNZWbRoPufwXD3OzMuY6uiufRVZGscGJb"
    u"tMOkTAYlrcMXGUxJElcT68jA1TwWElRJ1S5qDupr46A8sobgXHxtlYrHG9cFhqyc7kCnVwcY5TXNZiQ1OLDhfRNg"
    u"sf9wxkPqvD3YkKWEXx+pJql5Ah5DkMYym1/jZ0mdOR3K5FxskII1ZNLpQc5sKdFPg+ru69wb9W5oYFDoUsD+7Wzm"
    u"yQIDAQAB",
    // 7: RSA-2048
    u"MIIBCgKCAQEAufWrqHv/gCMOuyhvFeDguPG9y5fMPW26R5nSpOjhoof/ZQ9cq+FxxyuJnsIye5GFPLSRkFAEb4ho"
    u"UVNmOx6W9Gj9ZaYl/cn6rvrbgUGA9xOR+a+3XXyivZ0SvnN8nz81CkZe7u1XSHt9ROQES1gyqN+mI60p6cXrF8Kl"
    u"/H6Cx0vKvrVeONCCkaQZbGGJY0vMy873+nwUkfvwQIN6dUt7d5VduRDnQvEYRs0PM6Hwk1MWRKJXWLTxAFVgEdZl"
    u"KMXLxSAwF+cBUh+XWKumUUrWq9b6hIDtQRdL0DLYhjFqWclbhLNCw+9erCcL+0s8FhzLVQahIP7oBW9Zy2hJaETq"
    u"JwIDAQAB",
};

⍝ Scalar functions, dyadic and monadic, on INTG, REAL and Boolean values
⍝ MAIN: SCALARS
⍝ ARGS: 3 2.5
∇Z←A SCALARS B;X;Y
X←⍎B
Y←⍎A
⎕←X+Y ⋄ ⎕←X-Y ⋄ ⎕←X×Y ⋄ ⎕←X÷Y ⋄ ⎕←X|7 ⋄ ⎕←X⌈Y ⋄ ⎕←X⌊Y
⎕←X*2 ⋄ ⎕←2⍟8 ⋄ ⎕←1○0 ⋄ ⎕←3!5
⎕←(X=Y),(X≠Y),(X<Y),(X≤Y),(X≥Y),(X>Y)
⎕←(X=3),(X≠3),(X<4),(X≤2),(X≥3),(X>3)
⎕←(1 0 1∨0 0 1),(1 0 1∧1 1 0),(1 0⍱0 0),(1 1⍲1 0)
⎕←-X ⋄ ⎕←×¯3 0 2 ⋄ ⎕←÷4 ⋄ ⎕←|¯3.5 ⋄ ⎕←⌈2.3 ⋄ ⎕←⌊2.7 ⋄ ⎕←*0 ⋄ ⎕←⍟1 ⋄ ⎕←○1 ⋄ ⎕←!4 ⋄ ⎕←~1 0 1
⎕←1 2 3+4 5 6 ⋄ ⎕←2×⍳5 ⋄ ⎕←'abc'='abd'
Z←X,Y
∇
